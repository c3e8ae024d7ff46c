// Mounts and the process scan on the real kernel: an ext4 file system on a real loop device
// in the sandbox is mounted, held by processes in each way a process can hold it and passed
// by one that only lives next to it, scanned, refused a plain unmount and taken down by force;
// the machine's mounts and loop devices are as before afterwards. The scan and the forced
// unmount run once with pidfds and once where pidfd_open fails, as on older kernels.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "system/force_unmount.h"
#include "system/getpidlist.h"
#include "system/loop_device.h"
#include "system/mkfs.h"
#include "system/mount.h"
#include "testing/process.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"
#include "testing/syscall_filter.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kLosetup = "/usr/sbin/losetup";

std::string read_all(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The mount point and options of device in /proc/self/mounts, "none" without a line.
std::string mount_line(const std::string& device) {
    std::istringstream table(read_all("/proc/self/mounts"));
    for (std::string source, dir, type, options, rest; table >> source >> dir >> type >> options;) {
        std::getline(table, rest);
        if (source == device) {
            return dir + " " + options;
        }
    }
    return "none";
}

// The scenario runs in a child inside the sandbox's mount namespace (the test process has
// threads, so it cannot switch itself); each failed check is one line on a pipe to the test.
class checks {
  public:
    explicit checks(int fd) : m_fd(fd) {}
    template <typename A, typename B>
    void eq(const A& actual, const B& expected, const std::string& what) {
        if (!(actual == expected)) {
            say(what + ": " + ::testing::PrintToString(actual) + ", expected " +
                ::testing::PrintToString(expected));
        }
    }
    void that(bool ok, const std::string& what) {
        if (!ok) {
            say(what);
        }
    }
    [[noreturn]] void stop(const std::string& what) {
        say(what);
        _exit(0);
    }

  private:
    void say(const std::string& text) {
        const std::string line = text + "\n";
        if (::write(m_fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
            _exit(2);
        }
    }
    int m_fd;
};

// A child that runs prepare, says so with a byte on ready, then sleeps: as "sleep" when
// exec_sleep, otherwise as a copy of this program.
pid_t start_holder(int ready, const std::function<bool()>& prepare, bool exec_sleep) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!prepare() || ::write(ready, "x", 1) != 1) {
            _exit(3);
        }
        if (exec_sleep) {
            ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (;;) {
            ::pause();
        }
    }
    return pid;
}

// How the child ended ("TERM", "KILL", "exit N"), or "running" if not within timeout.
std::string ending(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    if (!zt_testing::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
        return "running";
    }
    if (!WIFSIGNALED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    return WTERMSIG(status) == SIGTERM ? "TERM" : WTERMSIG(status) == SIGKILL ? "KILL" : "signal";
}

std::string loop_listing() {
    return zt_testing::run_captured({kLosetup, "-a"}, 30s).out;
}

// Runs inside the sandbox's mount namespace.
[[noreturn]] void scenario(checks check, bool with_pidfd) {
    // Another program may take the free number first (EBUSY): a few numbers are tried.
    std::error_code ec;
    sys::LoopDevice loop;
    for (int attempt = 0; attempt < 5 && !loop.used(); ++attempt) {
        loop = sys::LoopDevice();
        if (sys::LoopDevice::get_free(loop, ec) && loop.set_backing_file("/run/disk.img", ec) &&
            !loop.setup(ec)) {
            loop = sys::LoopDevice();
        }
    }
    if (!loop.used() || !sys::mkfs(loop.get_device_name(), "ext4", ec)) {
        check.stop("loop device and file system: " + ec.message());
    }
    const std::string device = loop.get_device_name();
    if (::chdir("/") != 0 || ::mkdir("/zt/al", 0755) != 0 || ::mkdir("/zt/alice", 0755) != 0 ||
        ::symlink("/zt/al", "/zt/link") != 0) {
        check.stop("directories");
    }

    // Never onto a link; the flags asked for and no others (relatime is the kernel's).
    check.eq(sys::mount(device, "/zt/link", "ext4", false), ELOOP, "mount onto a link");
    check.eq(mount_line(device), "none", "after the mount onto a link");
    check.eq(sys::mount(device, "/zt/al", "ext4", true), 0, "read-only mount");
    check.eq(mount_line(device), "/zt/al ro,dirsync,nosuid,nodev,relatime", "read-only line");
    check.eq(sys::unmount("/zt/al"), 0, "unmount");
    if (sys::mount(device, "/zt/al", "ext4", false) != 0 || ::mkdir("/zt/al/sub", 0755) != 0 ||
        !std::ofstream("/zt/al/file").put('f') || !std::ofstream("/zt/al/lib").put('l')) {
        check.stop("read-write mount and its files");
    }
    check.eq(mount_line(device), "/zt/al rw,dirsync,nosuid,nodev,relatime", "read-write line");

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        check.stop("pipe");
    }
    std::map<pid_t, std::string> holders;  // pid: what the scan is to say of it
    holders[start_holder(
        ready[1], [] { return ::chdir("/zt/al/sub") == 0; }, true)] = "cwd root sleep";
    holders[start_holder(
        ready[1], [] { return ::open("/zt/al/file", O_RDONLY) >= 0 && ::chdir("/") == 0; }, true)] =
        "open file root sleep";
    // Only maps a file, and ignores SIGTERM: SIGKILL must end it.
    const pid_t mapper = start_holder(
        ready[1],
        [] {
            const int fd = ::open("/zt/al/lib", O_RDONLY | O_CLOEXEC);
            return fd >= 0 && ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0) != MAP_FAILED &&
                   ::close(fd) == 0 && ::signal(SIGTERM, SIG_IGN) != SIG_ERR;
        },
        false);
    holders[mapper] = "mapping root mount_scan_test";
    holders[start_holder(
        ready[1], [] { return ::chdir("/run") == 0 && ::chroot("/zt/al") == 0; }, false)] =
        "root root mount_scan_test";
    // Its directory's name starts with the mount directory's.
    const pid_t neighbour = start_holder(
        ready[1], [] { return ::chdir("/zt/alice") == 0; }, true);
    char bytes[5];
    for (std::size_t got = 0; got < sizeof bytes;) {
        pollfd entry{ready[0], POLLIN, 0};
        const ssize_t n = ::poll(&entry, 1, 10000) == 1 ? ::read(ready[0], bytes, 5 - got) : -1;
        if (n <= 0) {
            check.stop("holders not ready");
        }
        got += static_cast<std::size_t>(n);
    }

    // The holders were made before: only the scan lacks pidfd_open.
    if (!with_pidfd && !zt_testing::fail_system_call(SYS_pidfd_open, ENOSYS)) {
        check.stop("seccomp filter");
    }
    bool no_line = true;
    std::map<pid_t, std::string> found;
    for (const auto& process : os::get_pid_list(device, ec, &no_line)) {
        check.eq(static_cast<bool>(process.pidfd), with_pidfd,
                 "pidfd of " + std::to_string(process.pid));
        found[process.pid] =
            std::string(os::hold_name(process.how)) + " " + process.user + " " + process.command;
    }
    check.eq(ec.message(), std::error_code().message(), "scan error");
    check.eq(no_line, false, "mount line missing");
    check.eq(found, holders, "scan");

    check.eq(sys::unmount("/zt/al"), EBUSY, "plain unmount of a busy disk");
    const auto forced = sys::force_unmount(device, "/zt/al", ec);
    check.eq(forced.unmounted, true, "forced unmount");
    check.eq(ec.message(), std::error_code().message(), "forced unmount error");
    check.eq(forced.no_mount_line, false, "forced unmount without a mount line");
    std::map<pid_t, std::string> ended;
    for (const auto& process : forced.processes) {
        ended[process.pid] = os::hold_name(process.how) + std::string(" root ") + process.command;
    }
    check.eq(ended, holders, "ended processes");
    for (const auto& [pid, how] : holders) {
        check.eq(ending(pid, 10s), pid == mapper ? "KILL" : "TERM", how);
    }
    check.eq(ending(neighbour, 0ms), "running", "neighbour");
    check.eq(mount_line(device), "none", "after the forced unmount");

    // With no line for the device nothing is selected by directory, the neighbour neither.
    check.eq(os::get_pid_list(device, ec, &no_line).size(), 0u, "scan without a mount line");
    check.eq(ec.message(), std::error_code().message(), "scan error without a mount line");
    check.eq(no_line, true, "mount line missing");
    check.eq(sys::unmount("/zt/al"), EINVAL, "unmount of what is not mounted");
    check.eq(sys::unmount("/zt/link"), ELOOP, "unmount through a link");

    ::kill(neighbour, SIGKILL);
    check.eq(ending(neighbour, 10s), "KILL", "neighbour");
    const std::string backing =
        "/sys/block/loop" + std::to_string(loop.get_number()) + "/loop/backing_file";
    check.that(loop.drop(ec), "detach: " + ec.message());
    loop = sys::LoopDevice();
    check.that(zt_testing::wait_until([&] { return ::access(backing.c_str(), F_OK) != 0; }, 10s),
               "loop device still attached");
    _exit(0);
}

TEST(ProcessScanOnTheKernel, FindsExactlyTheHoldersAndForcedUnmountEndsThem) {
    const zt_testing::sandbox::options options{.with_bus = false};
    if (const auto reason = zt_testing::sandbox::unavailable_reason(options); !reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    if (::access("/dev/loop-control", W_OK) != 0 || ::access(kLosetup, X_OK) != 0 ||
        ::access("/sbin/mkfs.ext4", X_OK) != 0) {
        ZT_SKIP_UNLESS_REQUIRED("no loop control node, losetup or mkfs.ext4 here");
    }
    const std::string loops_before = loop_listing();
    const std::string mounts_before = read_all("/proc/self/mountinfo");
    for (const bool with_pidfd : {true, false}) {
        SCOPED_TRACE(with_pidfd ? "with pidfds" : "without pidfd_open");
        // Whatever the scenario leaves inside, the sandbox ends, unmounts and detaches.
        zt_testing::sandbox box(options);
        box.write_file("/run/disk.img", std::string(16 << 20, '\0'), 0600);
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ends[0]);
            if (::setns(box.namespace_fd(), CLONE_NEWNS) != 0) {
                _exit(1);
            }
            scenario(checks(ends[1]), with_pidfd);
        }
        ::close(ends[1]);
        EXPECT_EQ(ending(pid, 120s), "exit 0");
        // The lines are far fewer than the pipe holds: they wait there until the end.
        std::string failures;
        char buffer[512];
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
            failures.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(ends[0]);
        EXPECT_EQ(failures, "");
    }
    EXPECT_EQ(loop_listing(), loops_before);
    EXPECT_EQ(read_all("/proc/self/mountinfo"), mounts_before);
}

}  // namespace
