#pragma once

// A throw-away dbus-daemon and private connections to it, for tests that exchange real
// D-Bus messages without root.

#include <dbus/dbus.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

#include "dbus/dbus_iface.h"

namespace test_bus {

// A method of a test service: path "/test/" + object, interface "test." + object.
struct address : dbus_iface::iface {
    address(std::string object, std::string name)
        : m_object(std::move(object)), m_member(std::move(name)) {}
    std::string path() const override { return "/test/" + m_object; }
    std::string interface() const override { return "test." + m_object; }
    std::string method() const override { return m_member; }
    std::string m_object, m_member;
};

// A dbus-daemon for one test, killed with the object or with the test process; the address
// stays empty when the daemon could not be started.
struct private_bus {
    private_bus() {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        if ((pid = fork()) == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], STDOUT_FILENO);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                   "--print-address=1", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The daemon prints its address once it listens; end of file means it failed.
        for (char c; pid > 0 && read(out[0], &c, 1) == 1 && c != '\n';) {
            address.push_back(c);
        }
        close(out[0]);
    }
    ~private_bus() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    private_bus(const private_bus&) = delete;
    private_bus& operator=(const private_bus&) = delete;

    pid_t pid = -1;
    std::string address;
};

// A private, registered connection to a bus; closed and released with its owner.
struct connection_closer {
    void operator()(DBusConnection* connection) const noexcept {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using bus_connection = std::unique_ptr<DBusConnection, connection_closer>;

// Opens a private connection to address and says Hello; null on failure.
inline bus_connection connect_to(const std::string& address) {
    bus_connection connection(dbus_connection_open_private(address.c_str(), nullptr));
    if (connection && !dbus_bus_register(connection.get(), nullptr)) {
        return nullptr;
    }
    return connection;
}

}  // namespace test_bus
