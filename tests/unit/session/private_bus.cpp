#include "private_bus.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

private_bus::private_bus() {
    int out[2];
    if (pipe(out) != 0) {
        m_error = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    m_pid = fork();
    if (m_pid < 0) {
        m_error = std::string("fork: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return;
    }
    if (m_pid == 0) {
        // The bus goes with the test process, even when a test crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
               "--print-address=1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // The daemon prints its address once it listens; end of file means it failed.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    close(out[0]);
    if (line.empty()) {
        m_error = "dbus-daemon did not start (is it installed?)";
        return;
    }
    m_address = line;
}

private_bus::~private_bus() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

void connection_closer::operator()(DBusConnection* connection) const noexcept {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
}

bus_connection connect_to(const std::string& address) {
    DBusError error;
    dbus_error_init(&error);
    bus_connection connection(dbus_connection_open_private(address.c_str(), &error));
    if (!connection) {
        dbus_error_free(&error);
        return nullptr;
    }
    if (!dbus_bus_register(connection.get(), &error)) {
        dbus_error_free(&error);
        return nullptr;
    }
    return connection;
}
