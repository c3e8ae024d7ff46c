#pragma once

#include <system_error>

// Errors of the D-Bus server: connecting, owning the service name, registering object paths
// and methods, and creating client sessions. Category "DBus server".
enum class server_error {
    success = 0,
    not_connected = 4096,
    invalid_connection = 4097,
    listening_path_not_set = 4098,  // kept for clients; the daemon never raises it
    object_path_in_use = 4099,
    interface_in_use = 4100,
    bus_in_use = 4101,
    invalid_name = 4102,
    invalid_sender = 4103,
    client_register_failure = 4104,
    client_not_registered = 4105,  // kept for clients; the daemon never raises it
    internal_error = 4106,
};

// The one "DBus server" category instance.
const std::error_category& server_category() noexcept;

std::error_code make_error_code(server_error e) noexcept;
std::error_condition make_error_condition(server_error e) noexcept;

template <>
struct std::is_error_code_enum<server_error> : std::true_type {};
