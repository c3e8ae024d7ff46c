// A peer-to-peer D-Bus connection whose far end is this process, so that the daemon's side
// of a session can answer calls without any bus daemon. The far end plays the other side of
// the connection's authentication (written ahead: the connection reads it when it first
// sends) and afterwards only collects the messages sent on the connection.
#pragma once

#include <dbus/dbus.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "dbus/dbus_handles.h"

namespace fuzz {

class loopback_bus {
  public:
    loopback_bus() {
        const std::string name = "zt-fuzz-" + std::to_string(::getpid());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: no file
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener, 1) != 0) {
            return;
        }
        const std::string bus_address = "unix:abstract=" + name;
        m_connection.reset(dbus_connection_open_private(bus_address.c_str(), nullptr));
        if (!m_connection) {
            return;
        }
        m_far = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        static constexpr char kServerSide[] =
            "OK 0123456789abcdef0123456789abcdef\r\nAGREE_UNIX_FD\r\n";
        if (m_far < 0 || ::write(m_far, kServerSide, sizeof kServerSide - 1) !=
                             static_cast<ssize_t>(sizeof kServerSide - 1)) {
            dbus_connection_close(m_connection.get());
            m_connection.reset();
        }
    }
    ~loopback_bus() {
        if (m_connection) {
            dbus_connection_close(m_connection.get());
        }
        for (int fd : {m_far, m_listener}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    loopback_bus(const loopback_bus&) = delete;
    loopback_bus& operator=(const loopback_bus&) = delete;

    // The connection the daemon's side answers on (borrowed); null when setting up failed.
    DBusConnection* connection() const noexcept { return m_connection.get(); }

    // The messages sent on the connection since the last call, in order.
    std::vector<dbus_handle::message_ptr> take_sent() {
        unsigned char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_far, buffer, sizeof buffer)) > 0) {
            m_pending.insert(m_pending.end(), buffer, buffer + n);
        }
        if (!m_authenticated) {
            // The client's side of the authentication ends with its "BEGIN" line.
            static constexpr char kBegin[] = "BEGIN\r\n";
            const std::string seen(m_pending.begin(), m_pending.end());
            const auto at = seen.find(kBegin);
            if (at == std::string::npos) {
                return {};
            }
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(
                                                                       at + sizeof kBegin - 1));
            m_authenticated = true;
        }
        std::vector<dbus_handle::message_ptr> out;
        while (m_pending.size() >= 16) {
            const char* start = reinterpret_cast<const char*>(m_pending.data());
            const int size = static_cast<int>(m_pending.size());
            const int needed = dbus_message_demarshal_bytes_needed(start, size);
            if (needed <= 0 || needed > size) {
                break;
            }
            out.emplace_back(dbus_message_demarshal(start, needed, nullptr));
            m_pending.erase(m_pending.begin(), m_pending.begin() + needed);
        }
        return out;
    }

  private:
    int m_listener = -1;
    int m_far = -1;
    dbus_handle::connection_ptr m_connection;
    bool m_authenticated = false;
    std::vector<unsigned char> m_pending;
};

}  // namespace fuzz
