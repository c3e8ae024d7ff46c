#include "testing/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <system_error>
#include <utility>

#include "testing/unique_fd.h"

extern char** environ;

namespace zt_testing {

namespace {

constexpr unsigned kCloseRangeCloexec = 1U << 2;

// Only async-signal-safe calls: the parent may have threads.
// A program that cannot be started exits with 127, as from a shell.
[[noreturn]] void exec_child(char* const* argv, char* const* envp, const spawn_options& o,
                             int null_fd) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int in = o.stdin_fd >= 0 ? o.stdin_fd : null_fd;
    if ((o.ns_fd < 0 || setns(o.ns_fd, CLONE_NEWNS) == 0) && chdir("/") == 0 && dup2(in, 0) >= 0 &&
        (o.stdout_fd < 0 || dup2(o.stdout_fd, 1) >= 0) &&
        (o.stderr_fd < 0 || dup2(o.stderr_fd, 2) >= 0) &&
        (o.extra_fd < 0 || dup2(o.extra_fd, 3) >= 0) &&
        (o.uid == 0 || (setgroups(0, nullptr) == 0 && setgid(o.gid) == 0 && setuid(o.uid) == 0))) {
        // Nothing else of the parent reaches the program.
        syscall(SYS_close_range, o.extra_fd >= 0 ? 4U : 3U, ~0U, kCloseRangeCloexec);
        execve(argv[0], argv, envp);
    }
    _exit(127);
}

std::vector<char*> c_strings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const auto& s : strings) {
        out.push_back(const_cast<char*>(s.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

int ms_left(std::chrono::steady_clock::time_point deadline) {
    using std::chrono::milliseconds;
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<milliseconds::rep>(left.count(), 0));
}

}  // namespace

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (ms_left(deadline) == 0) {
            return false;
        }
        usleep(2000);
    }
    return true;
}

child_process& child_process::operator=(child_process&& other) noexcept {
    if (this != &other) {
        reset();
        m_pid = std::exchange(other.m_pid, -1);
        m_status = std::exchange(other.m_status, std::nullopt);
    }
    return *this;
}

void child_process::reset() noexcept {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = -1;
    m_status.reset();
}

child_process child_process::spawn(const std::vector<std::string>& argv,
                                   const spawn_options& options) {
    auto args = c_strings(argv);
    std::vector<char*> envs = options.env ? c_strings(*options.env) : std::vector<char*>();
    const unique_fd null_fd(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (null_fd.get() < 0) {
        throw std::system_error(errno, std::generic_category(), "spawn: /dev/null");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        exec_child(args.data(), options.env ? envs.data() : environ, options, null_fd.get());
    }
    if (pid < 0) {
        throw std::system_error(errno, std::generic_category(), "spawn: fork");
    }
    child_process child;
    child.m_pid = pid;
    return child;
}

std::optional<int> child_process::wait(std::chrono::milliseconds timeout) {
    wait_until(
        [this] {
            int status = 0;
            if (!m_status && m_pid > 0 && waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = status;
            }
            return m_status || m_pid <= 0;
        },
        timeout);
    return m_status;
}

void child_process::signal(int sig) {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, sig);
    }
}

run_result run_captured(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                        const spawn_options& options) {
    pipe_ends out = make_pipe();
    pipe_ends err = make_pipe();
    spawn_options io = options;
    io.stdout_fd = out.write.get();
    io.stderr_fd = err.write.get();
    auto child = child_process::spawn(argv, io);
    out.write.reset();
    err.write.reset();

    run_result result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{out.read.get(), POLLIN, 0}, {err.read.get(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    while ((fds[0].fd >= 0 || fds[1].fd >= 0) && ms_left(deadline) > 0 &&
           poll(fds, 2, ms_left(deadline)) > 0) {
        for (int i = 0; i < 2; ++i) {
            char buffer[4096];
            const ssize_t n = fds[i].revents != 0 ? read(fds[i].fd, buffer, sizeof buffer) : -1;
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (fds[i].revents != 0 && (n == 0 || errno != EINTR)) {
                fds[i].fd = -1;  // closed by its owner above
            }
        }
    }
    result.status = child.wait(std::chrono::milliseconds(ms_left(deadline)));
    return result;
}

std::vector<std::string> environment_with(const std::vector<std::string>& drop,
                                          const std::vector<std::string>& add) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        auto same = [&](const std::string& d) { return d == name || d.starts_with(name + "="); };
        if (std::ranges::none_of(drop, same) && std::ranges::none_of(add, same)) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), add.begin(), add.end());
    return env;
}

}  // namespace zt_testing
