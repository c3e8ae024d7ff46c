#pragma once

#include <dbus/dbus.h>

#include <chrono>
#include <memory>
#include <string>

#include "testing/process.h"

namespace zt_testing {

struct connection_closer {
    void operator()(DBusConnection* c) const noexcept {
        dbus_connection_close(c);
        dbus_connection_unref(c);
    }
};
struct message_unref {
    void operator()(DBusMessage* m) const noexcept { dbus_message_unref(m); }
};
// A private bus connection, closed when the owner goes.
using connection_ptr = std::unique_ptr<DBusConnection, connection_closer>;
using message_ptr = std::unique_ptr<DBusMessage, message_unref>;

// Owns a DBusError and frees it on every path.
struct error_holder {
    error_holder() { dbus_error_init(&error); }
    ~error_holder() { dbus_error_free(&error); }
    error_holder(const error_holder&) = delete;
    error_holder& operator=(const error_holder&) = delete;
    DBusError error;
};

// A private, registered connection to the bus at address; throws std::runtime_error when
// the bus cannot be reached.
connection_ptr open_bus(const std::string& address);

// Whether name gets owned on the bus at address before the owner exits or timeout passes.
bool wait_for_name(const std::string& address, const std::string& name, child_process& owner,
                   std::chrono::milliseconds timeout);

}  // namespace zt_testing
