#pragma once

#include <dbus/dbus.h>
#include <sys/types.h>

#include <memory>
#include <string>

// A throw-away session bus for one test: a dbus-daemon child that listens on a fresh
// address and is killed when the object goes.
class private_bus {
  public:
    // Starts the daemon; address() is empty when it could not be started (see error()).
    private_bus();
    ~private_bus();
    private_bus(const private_bus&) = delete;
    private_bus& operator=(const private_bus&) = delete;

    const std::string& address() const { return m_address; }
    const std::string& error() const { return m_error; }

  private:
    pid_t m_pid = -1;
    std::string m_address;
    std::string m_error;
};

// A private, registered connection to a bus; closed and released with its owner.
struct connection_closer {
    void operator()(DBusConnection* connection) const noexcept;
};
using bus_connection = std::unique_ptr<DBusConnection, connection_closer>;

// Opens a private connection to address and says Hello; null on failure.
bus_connection connect_to(const std::string& address);
