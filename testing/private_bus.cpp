#include "testing/private_bus.h"

#include <stdexcept>

namespace zt_testing {

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
    // Name changes are not signalled to us: ask again shortly, and stop when the owner exits.
    auto owned = [&] {
        error_holder e;
        const dbus_bool_t has = dbus_bus_name_has_owner(c.get(), name.c_str(), &e.error);
        if (dbus_error_is_set(&e.error)) {
            throw std::runtime_error(std::string("NameHasOwner failed: ") + e.error.message);
        }
        return has != FALSE;
    };
    bool found = false;
    wait_until([&] { return (found = owned()) || !owner.running(); }, timeout);
    return found;
}

}  // namespace zt_testing
