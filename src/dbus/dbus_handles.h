#pragma once

#include <dbus/dbus.h>

#include <memory>

// Owners of libdbus references: each holds one reference and drops it with the library's
// unref call, so no path can leak or double-release a message, connection or pending call.
namespace dbus_handle {

struct message_unref {
    void operator()(DBusMessage* message) const noexcept { dbus_message_unref(message); }
};
struct connection_unref {
    void operator()(DBusConnection* connection) const noexcept {
        dbus_connection_unref(connection);
    }
};
struct pending_call_unref {
    void operator()(DBusPendingCall* call) const noexcept { dbus_pending_call_unref(call); }
};

using message_ptr = std::unique_ptr<DBusMessage, message_unref>;
using connection_ptr = std::unique_ptr<DBusConnection, connection_unref>;
using pending_call_ptr = std::unique_ptr<DBusPendingCall, pending_call_unref>;

// Takes an additional reference on a pointer borrowed from elsewhere; null stays null.
inline message_ptr retain(DBusMessage* message) {
    return message_ptr(message != nullptr ? dbus_message_ref(message) : nullptr);
}
inline connection_ptr retain(DBusConnection* connection) {
    return connection_ptr(connection != nullptr ? dbus_connection_ref(connection) : nullptr);
}

}  // namespace dbus_handle
