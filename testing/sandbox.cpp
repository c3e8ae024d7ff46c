#include "testing/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "testing/private_bus.h"

namespace zt_testing {

namespace {

constexpr const char* kMountPoints[] = {"/run", "/etc/ztctl", "/etc/dbus-1/system.d", "/zt"};
constexpr const char* kRunDirs[] = {"/run/systemd", "/run/systemd/journal", "/run/dbus",
                                    "/run/zt-sandbox"};

// What the holder reports when a step fails: the step and errno.
struct holder_status {
    int step;
    int error;
};

// Runs in the forked holder: only system calls, the parent may have threads.
[[noreturn]] void hold_namespace(int report_fd, int control_fd) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Descriptors of other sandboxes (their control pipes above all) must not be kept open
    // here, or those sandboxes could never end their holders.
    const unsigned low = static_cast<unsigned>(std::min(report_fd, control_fd));
    const unsigned high = static_cast<unsigned>(std::max(report_fd, control_fd));
    syscall(SYS_close_range, 3U, low - 1, 0U);
    syscall(SYS_close_range, low + 1, high - 1, 0U);
    syscall(SYS_close_range, high + 1, ~0U, 0U);
    holder_status status{0, 0};
    auto fail = [&](int step) {
        status = {step, errno};
        const ssize_t n = write(report_fd, &status, sizeof status);
        (void)n;
        _exit(1);
    };
    for (const char* dir : {"/etc/ztctl", "/zt", "/etc/dbus-1", "/etc/dbus-1/system.d"}) {
        if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
            fail(1);
        }
    }
    if (unshare(CLONE_NEWNS) != 0) {
        fail(2);
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        fail(3);
    }
    for (const char* point : kMountPoints) {
        if (mount("tmpfs", point, "tmpfs", MS_NOSUID, "mode=0755") != 0) {
            fail(4);
        }
    }
    for (const char* dir : kRunDirs) {
        if (mkdir(dir, 0755) != 0) {
            fail(5);
        }
    }
    const ssize_t n = write(report_fd, &status, sizeof status);
    (void)n;
    close(report_fd);
    char byte = 0;
    for (;;) {
        const ssize_t r = read(control_fd, &byte, 1);
        if (r == 0 || (r < 0 && errno != EINTR)) {
            break;
        }
    }
    _exit(0);
}

std::string random_bytes(std::size_t size) {
    std::random_device device;
    std::string bytes(size, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(device() & 0xFFu);
    }
    return bytes;
}

std::string read_host_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

std::string sandbox::daemon_path() {
    return ZT_ZTCTLD_PATH;
}

std::string sandbox::unavailable_reason(const options& opts) {
    if (geteuid() != 0) {
        return "the sandbox needs root (mount namespaces, tmpfs mounts)";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return "mount namespaces are not available here";
    }
    if (access(sandbox::daemon_path().c_str(), X_OK) != 0) {
        return "the daemon under test is not built: " + sandbox::daemon_path();
    }
    if (opts.with_bus && access(ZT_DBUS_DAEMON, X_OK) != 0) {
        return std::string("dbus-daemon is not installed at ") + ZT_DBUS_DAEMON;
    }
    return {};
}

sandbox::sandbox(const options& opts) {
    int report[2];
    int control[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    if (pipe2(control, O_CLOEXEC) != 0) {
        const int err = errno;
        close(report[0]);
        close(report[1]);
        throw std::system_error(err, std::generic_category(), "pipe");
    }
    m_holder = fork();
    if (m_holder == 0) {
        close(report[0]);
        close(control[1]);
        hold_namespace(report[1], control[0]);
    }
    const int fork_errno = errno;
    close(report[1]);
    close(control[0]);
    m_control = control[1];
    if (m_holder < 0) {
        close(report[0]);
        throw std::system_error(fork_errno, std::generic_category(), "fork");
    }
    holder_status status{-1, 0};
    ssize_t got = 0;
    do {
        got = read(report[0], &status, sizeof status);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got != static_cast<ssize_t>(sizeof status) || status.step != 0) {
        const int err = status.error;
        const int step = status.step;
        release();
        throw std::system_error(err, std::generic_category(),
                                "sandbox set-up failed at step " + std::to_string(step));
    }
    m_root = "/proc/" + std::to_string(m_holder) + "/root";
    m_ns = open(("/proc/" + std::to_string(m_holder) + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    try {
        if (m_ns < 0) {
            throw std::system_error(errno, std::generic_category(), "open mount namespace");
        }
        m_journal = std::make_unique<fake_journal>(host_path("/run/systemd/journal/socket"));
        write_file("/etc/dbus-1/system.d/ru.quorvex.server.conf",
                   read_host_file(ZT_BUS_POLICY_FILE));
        if (opts.with_bus) {
            start_bus();
        }
    } catch (...) {
        release();
        throw;
    }
}

sandbox::~sandbox() {
    release();
}

void sandbox::release() noexcept {
    if (m_holder > 0 && m_ns >= 0) {
        kill_sandbox_processes();
    }
    m_bus = child_process();
    m_journal.reset();
    if (m_ns >= 0) {
        close(m_ns);
        m_ns = -1;
    }
    if (m_control >= 0) {
        close(m_control);
        m_control = -1;
    }
    if (m_holder > 0) {
        kill(m_holder, SIGKILL);
        int status = 0;
        while (waitpid(m_holder, &status, 0) < 0 && errno == EINTR) {
        }
        m_holder = -1;
    }
}

void sandbox::kill_sandbox_processes() const {
    // Everything that shares the sandbox's mount namespace goes, detached daemons included;
    // the holder ends on its own when its control pipe closes.
    struct stat ns {};
    if (fstat(m_ns, &ns) != 0) {
        return;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        struct stat other {};
        if (pid == m_holder || stat(("/proc/" + name + "/ns/mnt").c_str(), &other) != 0) {
            continue;
        }
        if (other.st_ino == ns.st_ino && other.st_dev == ns.st_dev) {
            kill(pid, SIGKILL);
        }
    }
}

std::string sandbox::host_path(const std::string& path) const {
    // Symbolic links are followed here, against the sandbox's root: through /proc/<pid>/root
    // an absolute link (such as /var/run -> /run) would lead back into the host.
    std::string resolved;  // inside path, free of links
    std::string rest = path;
    int links = 0;
    while (!rest.empty()) {
        const auto start = rest.find_first_not_of('/');
        if (start == std::string::npos) {
            break;
        }
        const auto end = rest.find('/', start);
        const std::string part = rest.substr(start, end - start);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
        if (part == ".") {
            continue;
        }
        if (part == "..") {
            resolved = resolved.substr(0, resolved.rfind('/'));
            continue;
        }
        const std::string candidate = resolved + "/" + part;
        char target[4096];
        const ssize_t n = readlink((m_root + candidate).c_str(), target, sizeof target - 1);
        if (n <= 0 || ++links > 40) {
            resolved = candidate;  // not a link (or missing): taken as it stands
            continue;
        }
        const std::string link(target, static_cast<std::size_t>(n));
        rest = link + rest;
        if (link.front() == '/') {
            resolved.clear();
        }
    }
    return m_root + (resolved.empty() ? "/" : resolved);
}

void sandbox::write_file(const std::string& path, const std::string& content, mode_t mode) const {
    const std::filesystem::path target = host_path(path);
    std::filesystem::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + path + " in the sandbox");
        }
    }
    if (chmod(target.c_str(), mode) != 0) {
        throw std::system_error(errno, std::generic_category(), "chmod " + path);
    }
}

std::optional<std::string> sandbox::read_file(const std::string& path) const {
    std::ifstream in(host_path(path), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool sandbox::exists(const std::string& path) const {
    struct stat st {};
    return lstat(host_path(path).c_str(), &st) == 0;
}

void sandbox::make_fifo(const std::string& path) const {
    const std::filesystem::path target = host_path(path);
    std::filesystem::create_directories(target.parent_path());
    if (mkfifo(target.c_str(), 0600) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkfifo " + path);
    }
}

void sandbox::write_config(const std::string& text) const {
    write_file("/etc/ztctl/ztctl.conf", text);
}

void sandbox::provision(std::size_t container_size) const {
    // Until the provisioning tool exists the container is random bytes: enough to pass
    // the daemon's service-file check, not a key container any provider would accept.
    write_file(std::string(service_dir) + "/service.bin",
               random_bytes(32) + random_bytes(container_size), 0600);
    write_config(std::string("service_path = ") + service_dir + "\n");
}

bool sandbox::has_provisioning_tool() {
    const std::string tool = ZT_PROVISION_PATH;
    return !tool.empty() && access(tool.c_str(), X_OK) == 0;
}

void sandbox::provision_with_tool(
    const std::vector<std::pair<std::string, std::string>>& admins) const {
    if (!has_provisioning_tool()) {
        throw std::runtime_error("the provisioning tool is not built");
    }
    std::vector<std::string> argv{ZT_PROVISION_PATH, "--service-dir", service_dir, "--write-config",
                                  "--force",
                                  // Containers that open quickly: this is a test system.
                                  "--iterations", "1000", "--allow-low-iterations"};
    for (const auto& [name, password] : admins) {
        const std::string file = "/run/zt-sandbox/" + name + ".password";
        write_file(file, password + "\n", 0600);
        argv.push_back("--admin");
        argv.push_back(name + ":" + file);
    }
    spawn_options io;
    io.ns_fd = m_ns;
    const auto result = run_captured(argv, std::chrono::seconds(120), io);
    if (!result.status || !WIFEXITED(*result.status) || WEXITSTATUS(*result.status) != 0) {
        throw std::runtime_error("provisioning failed: " + result.out + result.err);
    }
}

child_process sandbox::spawn(const std::vector<std::string>& argv, spawn_options io) const {
    io.ns_fd = m_ns;
    return child_process::spawn(argv, io);
}

child_process sandbox::start_daemon(const std::vector<std::string>& args, spawn_options io) const {
    std::vector<std::string> argv{daemon_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    // System error texts in the log depend on the locale; the bus address must be the
    // default one, where the private bus listens.
    io.env = environment_with({"LANG", "LANGUAGE", "DBUS_SYSTEM_BUS_ADDRESS",
                               "DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS"},
                              {"LC_ALL=C"});
    return spawn(argv, io);
}

void sandbox::start_bus() {
    write_file("/run/zt-sandbox/system.conf", system_bus_config());
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    // The bus's own complaints go to a file of the sandbox instead of the test's output.
    const int log_fd = open(host_path("/run/zt-sandbox/bus.log").c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    spawn_options io;
    io.extra_fd = ready[1];
    io.stdout_fd = log_fd;
    io.stderr_fd = log_fd;
    try {
        m_bus = spawn({ZT_DBUS_DAEMON, "--config-file=/run/zt-sandbox/system.conf", "--nofork",
                       "--nopidfile", "--nosyslog", "--print-address=3"},
                      io);
    } catch (...) {
        close(ready[0]);
        close(ready[1]);
        if (log_fd >= 0) {
            close(log_fd);
        }
        throw;
    }
    close(ready[1]);
    if (log_fd >= 0) {
        close(log_fd);
    }
    // The bus prints its address once it listens.
    std::string address;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (address.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{ready[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t n = read(ready[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        address.append(buffer, static_cast<std::size_t>(n));
    }
    close(ready[0]);
    if (address.find('\n') == std::string::npos) {
        throw std::runtime_error("the private system bus did not start");
    }
}

std::string sandbox::bus_address() const {
    return "unix:path=" + host_path("/run/dbus/system_bus_socket");
}

bool sandbox::wait_for_name(const std::string& name, child_process& owner,
                            std::chrono::milliseconds timeout) const {
    return zt_testing::wait_for_name(bus_address(), name, owner, timeout);
}

}  // namespace zt_testing
