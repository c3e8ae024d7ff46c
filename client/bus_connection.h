#pragma once

#include <dbus/dbus.h>

#include <memory>
#include <string>
#include <system_error>

namespace client {

// Closes and releases a private bus connection (a private connection must be closed by its
// owner before the last reference goes).
struct private_connection_close {
    void operator()(DBusConnection* connection) const noexcept {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using private_connection = std::unique_ptr<DBusConnection, private_connection_close>;

// A connection of the client's own to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
// Losing the bus later fails the calls instead of ending the process. On failure: null and
// client_error::bus_unavailable.
private_connection connect_system_bus(std::error_code& ec);

// True when name has an owner on the bus; false with client_error::service_not_running when
// it has none, or with network_error::disconnected when the bus cannot be asked.
bool name_has_owner(DBusConnection* connection, const std::string& name, std::error_code& ec);

}  // namespace client
