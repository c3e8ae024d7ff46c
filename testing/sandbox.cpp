#include "testing/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
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
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "testing/private_bus.h"
#include "testing/sandbox_dev.h"

namespace zt_testing {

namespace {

// What the holder reports: the step that failed (0: none) and errno.
struct holder_status {
    int step;
    int error;
};

// The holder may not allocate: paths are built in fixed buffers.
using path_buffer = char[4096];

// dir, "/" and name into out; false when that does not fit.
bool join(path_buffer& out, const char* dir, const char* name) {
    const std::size_t dir_size = strlen(dir);
    const std::size_t slash = dir_size > 0 && dir[dir_size - 1] != '/' ? 1 : 0;
    const std::size_t name_size = strlen(name);
    if (dir_size + slash + name_size >= sizeof out) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(out, dir, dir_size);
    if (slash != 0) {
        out[dir_size] = '/';
    }
    memcpy(out + dir_size + slash, name, name_size + 1);
    return true;
}

// Makes `to` stand for `from`, whose status is st: a directory or file bind-mounted there
// (with whatever is mounted below it), a link copied.
bool mirror_entry(const char* from, const char* to, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        path_buffer target;
        const ssize_t size = readlink(from, target, sizeof target - 1);
        if (size < 0) {
            return false;
        }
        target[size] = '\0';
        return symlink(target, to) == 0;
    }
    const bool made =
        S_ISDIR(st.st_mode)
            ? mkdir(to, 0755) == 0
            : unique_fd(open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)).get() >= 0;
    return made && mount(from, to, nullptr, MS_BIND | MS_REC, nullptr) == 0;
}

// Gives the tmpfs mounted at `at` the mode of dir and an entry for each of dir's entries
// except the names in skip. Nothing is written outside `at`.
bool mirror(const char* dir, const char* at, std::initializer_list<const char*> skip) {
    const unique_fd fd(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || chmod(at, st.st_mode & 07777) != 0) {
        return false;
    }
    alignas(dirent64) char entries[8192];
    for (ssize_t size; (size = getdents64(fd.get(), entries, sizeof entries)) != 0;) {
        if (size < 0) {
            return false;
        }
        for (ssize_t offset = 0; offset < size;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            const auto named = [&](const char* other) { return strcmp(name, other) == 0; };
            if (named(".") || named("..") || std::any_of(skip.begin(), skip.end(), named)) {
                continue;
            }
            path_buffer from, to;
            if (!join(from, dir, name) || !join(to, at, name) ||
                fstatat(fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !mirror_entry(from, to, st)) {
                return false;
            }
        }
    }
    return true;
}

// Copies the regular file from to the new file to, with its mode: a private copy that the
// sandbox may change. A missing from is no failure.
bool copy_entry(const char* from, const char* to) {
    const unique_fd in(open(from, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (!in) {
        return errno == ENOENT;
    }
    if (fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    const unique_fd out(open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
    if (!out || fchmod(out.get(), st.st_mode & 07777) != 0) {
        return false;
    }
    char buffer[8192];
    for (ssize_t n; (n = read(in.get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 || write(out.get(), buffer, static_cast<std::size_t>(n)) != n) {
            return false;
        }
    }
    return true;
}

bool mount_tmpfs(const char* at) {
    return mount("tmpfs", at, "tmpfs", MS_NOSUID, "mode=0755") == 0;
}

// Replaces dir, inside the namespace, by a mirror of itself without the names in skip, so
// that new entries can be made in it without touching the host's dir. The names in copy
// become private copies instead of mirrors (they must be in skip too).
bool mirror_over(const char* dir, std::initializer_list<const char*> skip,
                 std::initializer_list<const char*> copy = {}) {
    constexpr const char* staging = "/run/zt-mirror";
    if (mkdir(staging, 0755) != 0 || !mount_tmpfs(staging) || !mirror(dir, staging, skip)) {
        return false;
    }
    for (const char* name : copy) {
        path_buffer from, to;
        if (!join(from, dir, name) || !join(to, staging, name) || !copy_entry(from, to)) {
            return false;
        }
    }
    return mount(staging, dir, nullptr, MS_MOVE, nullptr) == 0 && rmdir(staging) == 0;
}

// Runs in the forked holder until the sandbox (or the test's death) kills it; only system
// calls, the parent may have threads.
[[noreturn]] void hold_namespace(int report_fd, bool private_dev) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Other sandboxes' descriptors (their namespaces above all) must not be kept alive here.
    const auto fd = static_cast<unsigned>(report_fd);
    syscall(SYS_close_range, 3U, fd - 1, 0U);
    syscall(SYS_close_range, fd + 1, ~0U, 0U);
    holder_status status{0, 0};
    auto step = [&](int number, bool ok) {
        if (!ok) {
            status = {number, errno};
            (void)!write(report_fd, &status, sizeof status);
            _exit(1);
        }
    };
    step(1, unshare(CLONE_NEWNS) == 0);
    step(2, mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
    // The mount points the host may lack are made in mirrors of their parents, never on the
    // host. The root's mirror is built over /run, which the sandbox hides anyway, and becomes
    // the namespace's root; the host's root stays below it until it is detached.
    step(3, mount_tmpfs("/run") && mirror("/", "/run", {"run", "zt"}) &&
                mkdir("/run/run", 0755) == 0 && mkdir("/run/zt", 0755) == 0);
    step(4, chdir("/run") == 0 && syscall(SYS_pivot_root, ".", ".") == 0 &&
                umount2(".", MNT_DETACH) == 0 && chdir("/") == 0);
    // The account files are private copies, so tests add accounts without touching the
    // host's.
    step(5, mount_tmpfs("/run") &&
                mirror_over("/etc", {"ztctl", "passwd", "group", "shadow", "gshadow"},
                            {"passwd", "group", "shadow", "gshadow"}) &&
                mkdir("/etc/ztctl", 0755) == 0);
    step(6, (access("/etc/dbus-1", F_OK) == 0 ? mirror_over("/etc/dbus-1", {"system.d"})
                                              : mkdir("/etc/dbus-1", 0755) == 0) &&
                mkdir("/etc/dbus-1/system.d", 0755) == 0);
    for (const char* point : {"/etc/ztctl", "/etc/dbus-1/system.d", "/zt"}) {
        step(7, mount_tmpfs(point));
    }
    for (const char* dir :
         {"/run/systemd", "/run/systemd/journal", "/run/dbus", "/run/zt-sandbox"}) {
        step(8, mkdir(dir, 0755) == 0);
    }
    if (private_dev) {
        step(9, sandbox_dev::mount_private_dev());
    }
    (void)!write(report_fd, &status, sizeof status);
    close(report_fd);
    for (;;) {
        pause();
    }
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
    if (pid < 0 || waitpid(pid, &status, 0) != pid || status != 0) {
        return "mount namespaces are not available here";
    }
    if (access(daemon_path().c_str(), X_OK) != 0) {
        return "the daemon under test is not built: " + daemon_path();
    }
    if (opts.with_bus && access(ZT_DBUS_DAEMON, X_OK) != 0) {
        return std::string("dbus-daemon is not installed at ") + ZT_DBUS_DAEMON;
    }
    return opts.with_cryx ? cryx_unavailable_reason() : std::string();
}

sandbox::sandbox(const options& opts) {
    pipe_ends report = make_pipe();
    m_holder = fork();
    if (m_holder == 0) {
        hold_namespace(report.write.get(), opts.with_cryx);
    }
    if (m_holder < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    report.write.reset();
    holder_status status{-1, 0};
    const ssize_t got = read(report.read.get(), &status, sizeof status);
    try {
        if (got != static_cast<ssize_t>(sizeof status) || status.step != 0) {
            throw std::system_error(status.error, std::generic_category(),
                                    "sandbox set-up failed at step " + std::to_string(status.step));
        }
        const std::string proc = "/proc/" + std::to_string(m_holder);
        m_root = proc + "/root";
        m_ns.reset(open((proc + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC));
        if (m_ns.get() < 0) {
            throw std::system_error(errno, std::generic_category(), "open mount namespace");
        }
        m_journal = std::make_unique<fake_journal>(host_path("/run/systemd/journal/socket"));
        std::filesystem::copy_file(ZT_BUS_POLICY_FILE,
                                   host_path("/etc/dbus-1/system.d/ru.quorvex.server.conf"));
        if (opts.with_cryx) {
            start_cryx(opts.module);
        }
        if (opts.with_bus) {
            start_bus();
        }
    } catch (...) {
        release();
        throw;
    }
}

void sandbox::release() noexcept {
    release_disks();
    // Everything in the sandbox's mount namespace goes, detached daemons included, then the
    // holder and with it the namespace.
    struct stat ns {};
    if (m_holder > 0 && m_ns.get() >= 0 && fstat(m_ns.get(), &ns) == 0) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename();
            struct stat other {};
            if (name.find_first_not_of("0123456789") == std::string::npos &&
                name != std::to_string(m_holder) &&
                stat(("/proc/" + name + "/ns/mnt").c_str(), &other) == 0 &&
                other.st_ino == ns.st_ino && other.st_dev == ns.st_dev) {
                kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
            }
        }
    }
    m_bus = child_process();
    m_journal.reset();
    m_ns.reset();
    if (m_holder > 0) {
        kill(m_holder, SIGKILL);
        while (waitpid(m_holder, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_holder = -1;
    }
    // Loop devices still in use when they were detached go once the namespace has.
    if (!sandbox_dev::wait_detached(m_released_loops, std::chrono::seconds(20))) {
        std::fprintf(stderr, "sandbox: a loop device of the sandbox is still attached\n");
    }
    m_released_loops.clear();
}

std::string sandbox::host_path(const std::string& path) const {
    // Links are followed here, against the sandbox's root: through /proc/<pid>/root an
    // absolute link (such as /var/run -> /run) would lead back into the host.
    std::string resolved;  // inside path, free of links
    std::string rest = path;
    for (int links = 0; !rest.empty();) {
        const auto start = rest.find_first_not_of('/');
        const auto end = rest.find('/', start);
        const std::string part = start == std::string::npos ? "." : rest.substr(start, end - start);
        rest = end == std::string::npos ? std::string() : rest.substr(end);
        if (part == "..") {
            resolved = resolved.substr(0, resolved.rfind('/'));
        }
        if (part == "." || part == "..") {
            continue;
        }
        char target[4096];
        const ssize_t n =
            readlink((m_root + resolved + "/" + part).c_str(), target, sizeof target - 1);
        if (n <= 0 || ++links > 40) {
            resolved += "/" + part;  // not a link (or missing): taken as it stands
            continue;
        }
        rest = std::string(target, static_cast<std::size_t>(n)) + rest;
        if (target[0] == '/') {
            resolved.clear();
        }
    }
    return m_root + (resolved.empty() ? "/" : resolved);
}

void sandbox::write_file(const std::string& path, const std::string& content, mode_t mode) const {
    const std::filesystem::path target = host_path(path);
    std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out.write(content.data(), static_cast<std::streamsize>(content.size())).flush()) {
        throw std::runtime_error("cannot write " + path + " in the sandbox");
    }
    if (chmod(target.c_str(), mode) != 0) {
        throw std::system_error(errno, std::generic_category(), "chmod " + path);
    }
}

sandbox::account sandbox::add_account(const std::string& name) const {
    const std::string passwd = read_file("/etc/passwd").value_or("");
    const std::string group = read_file("/etc/group").value_or("");
    // The first id above the ones in use, from the range kept for test accounts.
    unsigned id = 60000;
    const auto taken = [](const std::string& table, const std::string& field) {
        return table.find("\n" + field) != std::string::npos || table.rfind(field, 0) == 0;
    };
    if (taken(passwd, name + ":") || taken(group, name + ":")) {
        throw std::runtime_error("the sandbox already has an account " + name);
    }
    for (;; ++id) {
        const std::string ids = ":" + std::to_string(id) + ":";
        if (passwd.find(ids) == std::string::npos && group.find(ids) == std::string::npos) {
            break;
        }
    }
    const auto append = [&](const std::string& path, const std::string& line, mode_t mode) {
        const std::string before = read_file(path).value_or("");
        const std::string sep = before.empty() || before.back() == '\n' ? "" : "\n";
        write_file(path, before + sep + line + "\n", mode);
    };
    const std::string number = std::to_string(id);
    append("/etc/passwd", name + ":x:" + number + ":" + number + "::/:/bin/sh", 0644);
    append("/etc/group", name + ":x:" + number + ":", 0644);
    append("/etc/shadow", name + ":!:19000::::::", 0640);
    return {static_cast<uid_t>(id), static_cast<gid_t>(id)};
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
    std::filesystem::remove(target);
    if (mkfifo(target.c_str(), 0600) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkfifo " + path);
    }
}

void sandbox::provision(std::size_t container_size) const {
    // Enough for the daemon's service-file check, not a container any provider would accept.
    std::random_device device;
    std::string bytes(32 + container_size, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(device());
    }
    write_file(std::string(service_dir) + "/service.bin", bytes, 0600);
    write_config(std::string("service_path = ") + service_dir + "\n");
}

bool sandbox::has_provisioning_tool() {
    return access(ZT_PROVISION_PATH, X_OK) == 0;
}

void sandbox::provision_with_tool(
    const std::vector<std::pair<std::string, std::string>>& admins) const {
    if (!has_provisioning_tool()) {
        throw std::runtime_error("the provisioning tool is not built");
    }
    // Containers that open quickly: this is a test system.
    std::vector<std::string> argv{
        ZT_PROVISION_PATH, "--service-dir", service_dir, "--write-config",
        "--force",         "--iterations",  "1000",      "--allow-low-iterations"};
    for (const auto& [name, password] : admins) {
        const std::string file = "/run/zt-sandbox/" + name + ".password";
        write_file(file, password + "\n", 0600);
        argv.insert(argv.end(), {"--admin", name + ":" + file});
    }
    const auto result = run_captured(argv, std::chrono::seconds(120), {.ns_fd = m_ns.get()});
    if (result.status != 0) {
        throw std::runtime_error("provisioning failed: " + result.out + result.err);
    }
}

child_process sandbox::spawn(const std::vector<std::string>& argv, spawn_options io) const {
    io.ns_fd = m_ns.get();
    return child_process::spawn(argv, io);
}

std::vector<std::string> sandbox::preload_entries(const std::string& library) {
    // A sanitized program wants its runtime loaded first; the preload library comes first
    // here, and carries no runtime of its own.
    const char* asan = std::getenv("ASAN_OPTIONS");
    return {"LD_PRELOAD=" + library,
            std::string("ASAN_OPTIONS=") + (asan != nullptr && *asan != '\0' ? asan : "") +
                (asan != nullptr && *asan != '\0' ? ":" : "") + "verify_asan_link_order=0"};
}

child_process sandbox::start_daemon(const std::vector<std::string>& args, spawn_options io,
                                    const std::string& fault) const {
    // ZT_SANDBOX_DAEMON_WRAPPER runs the daemon under a tool, such as valgrind: its words,
    // separated by spaces, come before the daemon's path.
    std::vector<std::string> argv;
    if (const char* wrapper = std::getenv("ZT_SANDBOX_DAEMON_WRAPPER"); wrapper != nullptr) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) {
            argv.push_back(word);
        }
    }
    argv.push_back(daemon_path());
    argv.insert(argv.end(), args.begin(), args.end());
    // Error texts in the log depend on the locale; the bus must be the default one.
    std::vector<std::string> add{"LC_ALL=C"};
    if (m_with_cryx && !fault.empty()) {
        throw std::logic_error("a fault cannot be injected beside the driver stand-in");
    }
    if (m_with_cryx) {
        const auto preload = cryx_preload_entries();
        add.insert(add.end(), preload.begin(), preload.end());
    }
    if (!fault.empty()) {
        auto preload = preload_entries(ZT_FAULT_PRELOAD_PATH);
        preload.push_back("ZT_FAULT=" + fault);
        add.insert(add.end(), preload.begin(), preload.end());
    }
    io.env =
        environment_with({"LANG", "LANGUAGE", "DBUS_SYSTEM_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS",
                          "DBUS_STARTER_ADDRESS", "LD_PRELOAD", "ASAN_OPTIONS"},
                         add);
    return spawn(argv, io);
}

void sandbox::start_bus() {
    pipe_ends ready = make_pipe();
    // The bus's own complaints go to a file of the sandbox instead of the test's output.
    const unique_fd log(open(host_path("/run/zt-sandbox/bus.log").c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    m_bus = spawn({ZT_DBUS_DAEMON, "--config-file=" ZT_BUS_CONFIG_FILE, "--nofork", "--nopidfile",
                   "--nosyslog", "--print-address=3"},
                  {.stdout_fd = log.get(), .stderr_fd = log.get(), .extra_fd = ready.write.get()});
    ready.write.reset();
    // The bus prints its address once it listens; an end of file means it died.
    fcntl(ready.read.get(), F_SETFL, O_NONBLOCK);
    std::string address;
    wait_until(
        [&] {
            char buffer[256];
            const ssize_t n = read(ready.read.get(), buffer, sizeof buffer);
            address.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            return address.find('\n') != std::string::npos || n == 0;
        },
        std::chrono::seconds(20));
    if (address.find('\n') == std::string::npos) {
        throw std::runtime_error("the private system bus did not start");
    }
    // The bus may print its address before it watches system.d, and a policy file put there
    // in between would never be read. A probe file (not a .conf, so never parsed) is changed
    // until the bus reports a reload, which it does only once the watch is in place.
    const std::string probe = "/etc/dbus-1/system.d/.zt-sandbox-probe";
    const bool watching = wait_until(
        [&] {
            write_file(probe, "");
            return read_file("/run/zt-sandbox/bus.log")
                       .value_or("")
                       .find("Reloaded configuration") != std::string::npos;
        },
        std::chrono::seconds(20));
    std::filesystem::remove(host_path(probe));
    if (!watching) {
        throw std::runtime_error("the private system bus does not watch its policy directory");
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
