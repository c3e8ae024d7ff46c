#include "testing/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>
#include <utility>

extern char** environ;

namespace zt_testing {

namespace {

using steady = std::chrono::steady_clock;

constexpr unsigned kCloseRangeCloexec = 1U << 2;

int pidfd_open(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

int remaining_ms(steady::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Only async-signal-safe calls: the parent may have threads.
[[noreturn]] void exec_child(char* const* argv, char* const* envp, const spawn_options& o,
                             int null_fd, int error_fd) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int err = 0;
    if (o.ns_fd >= 0 && setns(o.ns_fd, CLONE_NEWNS) != 0) {
        err = errno;
    }
    if (err == 0 && chdir("/") != 0) {
        err = errno;
    }
    if (err == 0) {
        const int in = o.stdin_fd >= 0 ? o.stdin_fd : null_fd;
        if (dup2(in, 0) < 0 || (o.stdout_fd >= 0 && dup2(o.stdout_fd, 1) < 0) ||
            (o.stderr_fd >= 0 && dup2(o.stderr_fd, 2) < 0) ||
            (o.extra_fd >= 0 && dup2(o.extra_fd, 3) < 0)) {
            err = errno;
        }
    }
    if (err == 0) {
        // Nothing else of the parent reaches the program; error_fd stays usable until exec.
        syscall(SYS_close_range, o.extra_fd >= 0 ? 4U : 3U, ~0U, kCloseRangeCloexec);
        execve(argv[0], argv, envp);
        err = errno;
    }
    const ssize_t n = write(error_fd, &err, sizeof err);
    (void)n;
    _exit(127);
}

}  // namespace

child_process::~child_process() {
    reset();
}

child_process::child_process(child_process&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_pidfd(std::exchange(other.m_pidfd, -1)),
      m_status(std::exchange(other.m_status, std::nullopt)) {}

child_process& child_process::operator=(child_process&& other) noexcept {
    if (this != &other) {
        reset();
        m_pid = std::exchange(other.m_pid, -1);
        m_pidfd = std::exchange(other.m_pidfd, -1);
        m_status = std::exchange(other.m_status, std::nullopt);
    }
    return *this;
}

void child_process::reset() noexcept {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_pidfd >= 0) {
        close(m_pidfd);
    }
    m_pid = -1;
    m_pidfd = -1;
    m_status.reset();
}

child_process child_process::spawn(const std::vector<std::string>& argv,
                                   const spawn_options& options) {
    if (argv.empty()) {
        throw std::system_error(EINVAL, std::generic_category(), "spawn: empty argv");
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envs;
    if (options.env) {
        for (const auto& e : *options.env) {
            envs.push_back(const_cast<char*>(e.c_str()));
        }
        envs.push_back(nullptr);
    }
    char* const* envp = options.env ? envs.data() : environ;

    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    int error_pipe[2];
    if (null_fd < 0 || pipe2(error_pipe, O_CLOEXEC) != 0) {
        const int err = errno;
        if (null_fd >= 0) {
            close(null_fd);
        }
        throw std::system_error(err, std::generic_category(), "spawn: pipe");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(error_pipe[0]);
        exec_child(args.data(), envp, options, null_fd, error_pipe[1]);
    }
    const int fork_errno = errno;
    close(null_fd);
    close(error_pipe[1]);
    if (pid < 0) {
        close(error_pipe[0]);
        throw std::system_error(fork_errno, std::generic_category(), "spawn: fork");
    }
    child_process child;
    child.m_pid = pid;
    child.m_pidfd = pidfd_open(pid);
    int exec_errno = 0;
    ssize_t got = 0;
    do {
        got = read(error_pipe[0], &exec_errno, sizeof exec_errno);
    } while (got < 0 && errno == EINTR);
    close(error_pipe[0]);
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        child.wait(std::chrono::milliseconds(5000));
        throw std::system_error(exec_errno, std::generic_category(), "spawn: exec " + argv[0]);
    }
    return child;
}

bool child_process::running() {
    return m_pid > 0 && !wait(std::chrono::milliseconds(0));
}

std::optional<int> child_process::wait(std::chrono::milliseconds timeout) {
    if (m_status || m_pid <= 0) {
        return m_status;
    }
    const auto deadline = steady::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_status = status;
            return m_status;
        }
        if (r < 0 && errno != EINTR) {
            return std::nullopt;
        }
        const int left = remaining_ms(deadline);
        if (left == 0) {
            return std::nullopt;
        }
        if (m_pidfd >= 0) {
            pollfd p{m_pidfd, POLLIN, 0};
            poll(&p, 1, left);
        } else {
            usleep(5000);
        }
    }
}

void child_process::signal(int sig) {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, sig);
    }
}

run_result run_captured(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                        const spawn_options& options) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        const int e = errno;
        close(out[0]);
        close(out[1]);
        throw std::system_error(e, std::generic_category(), "pipe");
    }
    spawn_options io = options;
    io.stdout_fd = out[1];
    io.stderr_fd = err[1];
    run_result result;
    child_process child;
    try {
        child = child_process::spawn(argv, io);
    } catch (...) {
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            close(fd);
        }
        throw;
    }
    close(out[1]);
    close(err[1]);
    const auto deadline = steady::now() + timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        const int left = remaining_ms(deadline);
        if (left == 0 || poll(fds, 2, left) <= 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (const auto& p : fds) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    result.status = child.wait(std::chrono::milliseconds(remaining_ms(deadline)));
    return result;
}

std::vector<std::string> environment_with(const std::vector<std::string>& drop,
                                          const std::vector<std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool dropped = false;
        for (const auto& d : drop) {
            dropped = dropped || d == name;
        }
        for (const auto& a : add) {
            dropped = dropped || a.substr(0, a.find('=')) == name;
        }
        if (!dropped) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), add.begin(), add.end());
    return env;
}

}  // namespace zt_testing
