// zt-cryxd: the encryption driver stand-in for tests and the demo. It answers the add and
// remove requests that the preload library forwards from the control node over the socket
// <run dir>/control, and ends every device it made when it gets SIGTERM or SIGINT.
//
//   zt-cryxd [--ready-fd N]
//
// With --ready-fd it writes "ready\n" to descriptor N (and closes it) once it listens.

#include <openssl/crypto.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "system/unique_fd.h"
#include "testing/cryx/cryx_control.h"
#include "testing/cryx/cryx_driver.h"

namespace {

using namespace zt_cryx;

// The run directory and its subdirectories, root's alone; an existing one must be a real
// directory owned by root.
bool make_private_dir(const char* path) {
    if (mkdir(path, 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (lstat(path, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0) {
        errno = ENOTDIR;
        return false;
    }
    return chmod(path, 0700) == 0;
}

os::unique_fd listen_on(const char* path) {
    os::unique_fd fd(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    unlink(path);
    if (!fd || bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path, 0600) != 0 || listen(fd.get(), 16) != 0) {
        return os::unique_fd();
    }
    return fd;
}

// Only root may drive the driver, as only root may open the control node.
bool peer_is_root(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == 0;
}

// Answers one request on a client connection; false when the connection is to be closed.
bool serve_request(cryx_driver& driver, int fd) {
    control_request request{};
    const ssize_t got = recv(fd, &request, sizeof request, MSG_TRUNC);
    if (got <= 0) {
        return false;
    }
    control_reply reply{0, 0, -1};
    std::error_code ec;
    if (got != static_cast<ssize_t>(sizeof request)) {
        ec = std::make_error_code(std::errc::invalid_argument);
    } else if (request.op == control_op::add) {
        std::int32_t number = -1;
        if (driver.add(request.record, number, ec)) {
            reply.number = number;
        }
    } else if (request.op == control_op::remove) {
        driver.remove(request.number, ec);
    } else {
        ec = std::make_error_code(std::errc::inappropriate_io_control_operation);
    }
    OPENSSL_cleanse(&request, sizeof request);
    if (ec) {
        reply.result = -1;
        reply.error = ec.value();
    }
    return send(fd, &reply, sizeof reply, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof reply);
}

int run(int ready_fd) {
    // Keys live in this process: no core dumps, no tracing by others.
    prctl(PR_SET_DUMPABLE, 0);
    umask(077);
    for (const char* dir : {run_dir, block_dir, view_dir}) {
        if (!make_private_dir(dir)) {
            std::fprintf(stderr, "zt-cryxd: %s: %s\n", dir, std::strerror(errno));
            return 1;
        }
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const os::unique_fd stop(signalfd(-1, &signals, SFD_CLOEXEC));
    const os::unique_fd listener = listen_on(control_socket);
    if (!stop || !listener) {
        std::fprintf(stderr, "zt-cryxd: %s: %s\n", control_socket, std::strerror(errno));
        return 1;
    }
    cryx_driver driver;
    if (ready_fd >= 0) {
        (void)!write(ready_fd, "ready\n", 6);
        close(ready_fd);
    }

    std::vector<os::unique_fd> clients;
    for (;;) {
        std::vector<pollfd> fds{{stop.get(), POLLIN, 0}, {listener.get(), POLLIN, 0}};
        for (const auto& client : clients) {
            fds.push_back({client.get(), POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents != 0) {
            os::unique_fd client(accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client && peer_is_root(client.get())) {
                clients.push_back(std::move(client));
            }
        }
        // Served back to front, so that closing one does not move the others still to come.
        for (std::size_t i = fds.size(); i-- > 2;) {
            if (fds[i].revents != 0 && !serve_request(driver, fds[i].fd)) {
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i - 2));
            }
        }
    }
    driver.remove_all();
    unlink(control_socket);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int ready_fd = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ready-fd" && i + 1 < argc) {
            ready_fd = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--ready-fd N]\n", argv[0]);
            return 2;
        }
    }
    return run(ready_fd);
}
