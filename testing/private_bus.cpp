#include "testing/private_bus.h"

#include <stdexcept>

namespace zt_testing {

namespace {

bool has_owner(DBusConnection* c, const std::string& name) {
    message_ptr call(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner"));
    const char* arg = name.c_str();
    dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &arg, DBUS_TYPE_INVALID);
    error_holder e;
    message_ptr reply(dbus_connection_send_with_reply_and_block(c, call.get(), 2000, &e.error));
    if (!reply) {
        throw std::runtime_error(std::string("NameHasOwner failed: ") + e.error.message);
    }
    dbus_bool_t owned = FALSE;
    dbus_message_get_args(reply.get(), &e.error, DBUS_TYPE_BOOLEAN, &owned, DBUS_TYPE_INVALID);
    return owned != FALSE;
}

}  // namespace

connection_ptr open_bus(const std::string& address) {
    error_holder e;
    connection_ptr c(dbus_connection_open_private(address.c_str(), &e.error));
    if (!c) {
        throw std::runtime_error("cannot reach bus " + address + ": " + e.error.message);
    }
    dbus_connection_set_exit_on_disconnect(c.get(), FALSE);
    if (!dbus_bus_register(c.get(), &e.error)) {
        throw std::runtime_error("cannot register on bus " + address + ": " + e.error.message);
    }
    return c;
}

bool wait_for_name(const std::string& address, const std::string& name, child_process& owner,
                   std::chrono::milliseconds timeout) {
    auto c = open_bus(address);
    // Name changes are not signalled to us: look again shortly, and stop early when the
    // owner exits.
    bool owned = false;
    wait_until([&] { return (owned = has_owner(c.get(), name)) || !owner.running(); }, timeout);
    return owned;
}

}  // namespace zt_testing
