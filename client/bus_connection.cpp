#include "client/bus_connection.h"

#include "client/client_error.h"
#include "session/network_error.h"

namespace client {

namespace {

// Owns the error record that libdbus fills on failure.
class bus_error {
  public:
    bus_error() { dbus_error_init(&m_error); }
    ~bus_error() { dbus_error_free(&m_error); }
    bus_error(const bus_error&) = delete;
    bus_error& operator=(const bus_error&) = delete;

    DBusError* get() noexcept { return &m_error; }
    bool is_set() const noexcept { return dbus_error_is_set(&m_error); }

  private:
    DBusError m_error;
};

}  // namespace

private_connection connect_system_bus(std::error_code& ec) {
    bus_error error;
    private_connection connection(dbus_bus_get_private(DBUS_BUS_SYSTEM, error.get()));
    if (!connection || error.is_set()) {
        ec = client_error::bus_unavailable;
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    ec.clear();
    return connection;
}

bool name_has_owner(DBusConnection* connection, const std::string& name, std::error_code& ec) {
    bus_error error;
    const bool owned = dbus_bus_name_has_owner(connection, name.c_str(), error.get());
    if (error.is_set()) {
        ec = network_error::disconnected;
        return false;
    }
    if (!owned) {
        ec = client_error::service_not_running;
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace client
