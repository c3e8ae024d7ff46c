#pragma once

#include <system_error>

// Errors of the D-Bus message transport, category "network". Resource failures of the bus
// library are reported in the generic category instead (ENOMEM, ENOBUFS).
enum class network_error {
    success = 0,
    disconnected = 0x10000,
    message_not_received = 0x10001,
    message_not_processed = 0x10002,
    invalid_argument = 0x10003,
};

// The one "network" category instance.
const std::error_category& network_category() noexcept;

std::error_code make_error_code(network_error e) noexcept;
std::error_condition make_error_condition(network_error e) noexcept;

template <>
struct std::is_error_code_enum<network_error> : std::true_type {};
