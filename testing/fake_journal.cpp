#include "testing/fake_journal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <system_error>

#include "testing/process.h"

namespace zt_testing {

std::optional<journal_entry> parse_journal_message(std::string_view data) {
    journal_entry entry;
    while (!data.empty()) {
        const auto eol = data.find('\n');
        const std::string_view line = data.substr(0, eol);
        const auto eq = line.find('=');
        if (eol == std::string_view::npos || line.empty() || eq == 0) {
            return std::nullopt;
        }
        data.remove_prefix(eol + 1);
        if (eq != std::string_view::npos) {
            entry.fields[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
            continue;
        }
        // A name alone on its line: the value follows with its length in front.
        if (data.size() < 8) {
            return std::nullopt;
        }
        std::uint64_t length = 0;
        for (std::size_t i = 8; i-- > 0;) {
            length = (length << 8) | static_cast<unsigned char>(data[i]);
        }
        data.remove_prefix(8);
        if (length >= data.size() || data[static_cast<std::size_t>(length)] != '\n') {
            return std::nullopt;
        }
        entry.fields[std::string(line)] = std::string(data.substr(0, length));
        data.remove_prefix(static_cast<std::size_t>(length) + 1);
    }
    return entry.fields.empty() ? std::nullopt : std::optional(std::move(entry));
}

fake_journal::fake_journal(const std::string& socket_path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);  // a cut path fails to bind
    m_fd.reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (m_fd.get() < 0) {
        throw std::system_error(errno, std::generic_category(), "journal socket");
    }
    // Room for a whole start-up's worth of messages between two drains.
    const int size = 4 << 20;
    setsockopt(m_fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    unlink(socket_path.c_str());
    if (bind(m_fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::system_error(errno, std::generic_category(), "bind " + socket_path);
    }
    chmod(socket_path.c_str(), 0666);
    m_reader = std::jthread([this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            pollfd ready{m_fd.get(), POLLIN, 0};
            if (poll(&ready, 1, 50) > 0) {
                const std::lock_guard hold(m_lock);
                drain();
            }
        }
    });
}

fake_journal::~fake_journal() {
    m_reader.request_stop();
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

std::size_t fake_journal::malformed() const {
    const std::lock_guard hold(m_lock);
    return m_malformed;
}

void fake_journal::drain() {
    for (;;) {
        // The datagram's real size, however large the sender made it.
        const ssize_t size = recv(m_fd.get(), nullptr, 0, MSG_PEEK | MSG_TRUNC);
        if (size < 0 && errno == EINTR) {
            continue;
        }
        if (size < 0) {
            return;  // nothing more queued
        }
        std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{nullptr, 0, &iov, 1, control, sizeof control, 0};
        const ssize_t n = recvmsg(m_fd.get(), &msg, MSG_CMSG_CLOEXEC);
        if (n < 0) {
            continue;  // interrupted; any other fault shows again at the next peek
        }
        buffer.resize(static_cast<std::size_t>(n));
        // Large messages arrive as a memory file instead of inline data.
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) {
                continue;
            }
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            const unique_fd file(fd);
            buffer.clear();
            char chunk[65536];
            for (ssize_t got = 0;
                 (got = pread(fd, chunk, sizeof chunk, static_cast<off_t>(buffer.size()))) > 0;) {
                buffer.append(chunk, static_cast<std::size_t>(got));
            }
        }
        if (auto entry = parse_journal_message(buffer)) {
            m_entries.push_back(std::move(*entry));
        } else {
            ++m_malformed;
        }
    }
}

std::vector<journal_entry> fake_journal::entries_of(const std::string& domain) {
    const std::lock_guard hold(m_lock);
    drain();
    std::vector<journal_entry> out;
    std::copy_if(m_entries.begin(), m_entries.end(), std::back_inserter(out),
                 [&](const journal_entry& e) { return e.domain() == domain; });
    return out;
}

std::optional<journal_entry> fake_journal::wait_for(
    const std::function<bool(const journal_entry&)>& match, std::chrono::milliseconds timeout) {
    std::optional<journal_entry> found;
    wait_until(
        [&] {
            const std::lock_guard hold(m_lock);
            drain();
            const auto it = std::ranges::find_if(m_entries, match);
            found = it == m_entries.end() ? std::nullopt : std::optional(*it);
            return found.has_value();
        },
        timeout);
    return found;
}

}  // namespace zt_testing
