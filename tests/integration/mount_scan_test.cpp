// Mounts and the process scan on the real kernel: an ext4 file system on a real loop device
// in the sandbox is mounted, held by processes in each way a process can hold it and passed
// by one that only lives next to it, scanned, refused a plain unmount and taken down by force;
// the machine's mounts and loop devices are as before afterwards.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
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

namespace {

using namespace std::chrono_literals;

constexpr const char* kLosetup = "/usr/sbin/losetup";
constexpr const char* kImage = "/run/scan/disk.img";
constexpr const char* kMountDir = "/zt/al";

std::string read_all(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The options field of the /proc/self/mounts line of device, "none" without one.
std::string mount_options(const std::string& device) {
    std::istringstream table(read_all("/proc/self/mounts"));
    for (std::string source, dir, type, options, rest; table >> source >> dir >> type >> options;) {
        std::getline(table, rest);
        if (source == device) {
            return dir + " " + options;
        }
    }
    return "none";
}

// What the scenario inside the sandbox saw, as key=value lines on a pipe.
class report {
  public:
    explicit report(int fd) : m_fd(fd) {}
    template <typename T>
    void note(const std::string& key, const T& value) {
        std::ostringstream line;
        line << key << '=' << value << '\n';
        const std::string text = line.str();
        if (::write(m_fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            _exit(2);
        }
    }
    [[noreturn]] void fail(const std::string& step) {
        note("failed", step + ": " + std::strerror(errno));
        _exit(0);
    }

  private:
    int m_fd;
};

// A child that runs prepare, says so with one byte on ready, then sleeps: as "sleep" when
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

bool wait_ready(int ready, int count) {
    char byte;
    for (int got = 0; got < count; ++got) {
        pollfd entry{ready, POLLIN, 0};
        if (::poll(&entry, 1, 10000) != 1 || ::read(ready, &byte, 1) != 1) {
            return false;
        }
    }
    return true;
}

// How the holder ended ("TERM", "KILL", "exit N"), or "running" if it did not within timeout.
std::string ending(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    if (!zt_testing::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeout)) {
        return "running";
    }
    if (WIFSIGNALED(status)) {
        return WTERMSIG(status) == SIGTERM ? "TERM" : WTERMSIG(status) == SIGKILL ? "KILL" : "sig";
    }
    return "exit " + std::to_string(WEXITSTATUS(status));
}

sys::LoopDevice attach(report& out) {
    std::error_code ec;
    for (int attempt = 0; attempt < 5; ++attempt) {
        sys::LoopDevice device;
        if (sys::LoopDevice::get_free(device, ec) && device.set_backing_file(kImage, ec)) {
            out.note("loop", device.get_number());
            if (device.setup(ec)) {
                return device;
            }
        }
        if (ec != std::error_code(EBUSY, std::system_category())) {
            break;
        }
    }
    out.note("failed", "attach: " + ec.message());
    _exit(0);
}

// Runs inside the sandbox's mount namespace.
[[noreturn]] void scenario(report out) {
    const int image = ::open(kImage, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (::chdir("/") != 0 || image < 0 || ::ftruncate(image, 16 << 20) != 0 ||
        ::close(image) != 0) {
        out.fail("image");
    }
    sys::LoopDevice loop = attach(out);
    const std::string device = loop.get_device_name();
    std::error_code ec;
    if (!sys::mkfs(device, "ext4", ec)) {
        out.note("failed", "mkfs: " + ec.message());
        _exit(0);
    }
    if (::mkdir(kMountDir, 0755) != 0 || ::mkdir("/zt/alice", 0755) != 0 ||
        ::symlink(kMountDir, "/zt/link") != 0) {
        out.fail("directories");
    }

    // Never onto a link; read-only when asked; then read-write for the holders.
    out.note("mount.link", sys::mount(device, "/zt/link", "ext4", false));
    out.note("mount.link.table", mount_options(device));
    out.note("mount.ro", sys::mount(device, kMountDir, "ext4", true));
    out.note("mount.ro.table", mount_options(device));
    out.note("unmount.ro", sys::unmount(kMountDir));
    out.note("mount.rw", sys::mount(device, kMountDir, "ext4", false));
    out.note("mount.rw.table", mount_options(device));
    const std::string lib = std::string(kMountDir) + "/lib";
    if (::mkdir((std::string(kMountDir) + "/sub").c_str(), 0755) != 0 ||
        !std::ofstream(std::string(kMountDir) + "/file").put('f') || !std::ofstream(lib).put('l')) {
        out.fail("files");
    }

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        out.fail("pipe");
    }
    std::map<std::string, pid_t> pids;
    pids["cwd"] = start_holder(
        ready[1], [] { return ::chdir("/zt/al/sub") == 0; }, true);
    pids["file"] = start_holder(
        ready[1], [] { return ::open("/zt/al/file", O_RDONLY) >= 0 && ::chdir("/") == 0; }, true);
    // Maps a file and lets go of its descriptor; it ignores SIGTERM, so only SIGKILL ends it.
    pids["map"] = start_holder(
        ready[1],
        [&] {
            const int fd = ::open(lib.c_str(), O_RDONLY | O_CLOEXEC);
            const bool mapped =
                fd >= 0 && ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0) != MAP_FAILED;
            return mapped && ::close(fd) == 0 && ::signal(SIGTERM, SIG_IGN) != SIG_ERR;
        },
        false);
    pids["root"] = start_holder(
        ready[1], [] { return ::chdir("/run") == 0 && ::chroot("/zt/al") == 0; }, false);
    // Its directory's name starts with the mount directory's.
    const pid_t bystander = start_holder(
        ready[1], [] { return ::chdir("/zt/alice") == 0; }, true);
    if (!wait_ready(ready[0], 5)) {
        out.fail("holders");
    }
    for (const auto& [role, pid] : pids) {
        out.note("pid." + role, pid);
    }

    bool no_line = true;
    for (const auto& found : os::get_pid_list(device, ec, &no_line)) {
        out.note("scan." + std::to_string(found.pid),
                 std::string(os::hold_name(found.how)) + " " + found.user + " " + found.command);
        out.note("scan.pidfd." + std::to_string(found.pid), static_cast<bool>(found.pidfd));
    }
    out.note("scan.error", ec.value());
    out.note("scan.no_line", no_line);
    out.note("scan.bystander", bystander);

    out.note("unmount.busy", sys::unmount(kMountDir));
    const auto forced = sys::force_unmount(device, kMountDir, ec);
    out.note("force.unmounted", forced.unmounted);
    out.note("force.error", ec.value());
    out.note("force.no_line", forced.no_mount_line);
    for (const auto& ended : forced.processes) {
        out.note("ended." + std::to_string(ended.pid), ended.command);
    }
    for (const auto& [role, pid] : pids) {
        out.note("end." + role, ending(pid, 10s));
    }
    out.note("end.bystander", ending(bystander, 0ms));
    out.note("force.table", mount_options(device));

    // The device has no line now: the bystander, and every other process, stays unselected.
    no_line = false;
    out.note("rescan.count", os::get_pid_list(device, ec, &no_line).size());
    out.note("rescan.error", ec.value());
    out.note("rescan.no_line", no_line);
    out.note("unmount.again", sys::unmount(kMountDir));
    out.note("unmount.link", sys::unmount("/zt/link"));

    ::kill(bystander, SIGKILL);
    ending(bystander, 10s);
    const std::string backing =
        "/sys/block/loop" + std::to_string(loop.get_number()) + "/loop/backing_file";
    out.note("dropped", loop.drop(ec) ? "yes" : ec.message());
    loop = sys::LoopDevice();
    out.note("free",
             zt_testing::wait_until([&] { return ::access(backing.c_str(), F_OK) != 0; }, 10s));
    _exit(0);
}

std::map<std::string, std::string> parse_report(const std::string& text) {
    std::map<std::string, std::string> facts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        facts[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return facts;
}

std::string loop_listing() {
    const auto listed = zt_testing::run_captured({kLosetup, "-a"}, 30s);
    EXPECT_TRUE(listed.status && WIFEXITED(*listed.status) && WEXITSTATUS(*listed.status) == 0);
    return listed.out;
}

// The scenario's report; the sandbox ends whatever it left inside.
std::map<std::string, std::string> run_scenario() {
    zt_testing::sandbox box({.with_bus = false});
    box.write_file("/run/scan/.keep", "");
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ends[0]);
        if (::setns(box.namespace_fd(), CLONE_NEWNS) != 0) {
            _exit(1);
        }
        scenario(report(ends[1]));
    }
    ::close(ends[1]);
    int status = -1;
    EXPECT_TRUE(
        zt_testing::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120s));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // The report is far smaller than the pipe's buffer: it waits there until the end.
    std::string text;
    char buffer[512];
    ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    return parse_report(text);
}

TEST(ProcessScanOnTheKernel, FindsExactlyTheHoldersAndForcedUnmountEndsThem) {
    const zt_testing::sandbox::options options{.with_bus = false};
    if (const auto reason = zt_testing::sandbox::unavailable_reason(options); !reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    if (::access("/dev/loop-control", R_OK | W_OK) != 0 || ::access(kLosetup, X_OK) != 0 ||
        ::access("/sbin/mkfs.ext4", X_OK) != 0) {
        ZT_SKIP_UNLESS_REQUIRED("no loop control node, losetup or mkfs.ext4 here");
    }
    const std::string loops_before = loop_listing();
    const std::string mounts_before = read_all("/proc/self/mountinfo");

    auto facts = run_scenario();
    ASSERT_EQ(facts["failed"], "");

    EXPECT_EQ(facts["mount.link"], std::to_string(ELOOP));
    EXPECT_EQ(facts["mount.link.table"], "none");
    EXPECT_EQ(facts["mount.ro"], "0");
    // The flags asked for and no others (relatime is the kernel's default).
    EXPECT_EQ(facts["mount.ro.table"], "/zt/al ro,dirsync,nosuid,nodev,relatime");
    EXPECT_EQ(facts["unmount.ro"], "0");
    EXPECT_EQ(facts["mount.rw"], "0");
    EXPECT_EQ(facts["mount.rw.table"], "/zt/al rw,dirsync,nosuid,nodev,relatime");

    // Exactly the four holders, each found by its own test, and not the neighbour.
    std::map<std::string, std::string> expected = {
        {"cwd", "cwd root sleep"},
        {"file", "open file root sleep"},
        {"map", "mapping root mount_scan_test"},
        {"root", "root root mount_scan_test"},
    };
    std::set<std::string> found_pids;
    for (const auto& [key, value] : facts) {
        if (key.rfind("scan.", 0) == 0 && std::isdigit(static_cast<unsigned char>(key[5]))) {
            found_pids.insert(key.substr(5));
        }
    }
    std::set<std::string> holder_pids;
    for (const auto& [role, how] : expected) {
        const std::string pid = facts["pid." + role];
        holder_pids.insert(pid);
        EXPECT_EQ(facts["scan." + pid], how) << role;
        EXPECT_EQ(facts["scan.pidfd." + pid], "1") << role;
        EXPECT_EQ(facts["ended." + pid], how.substr(how.rfind(' ') + 1)) << role;
    }
    EXPECT_EQ(found_pids, holder_pids);
    EXPECT_EQ(facts["scan.error"], "0");
    EXPECT_EQ(facts["scan.no_line"], "0");

    // A busy disk refuses a plain unmount; the forced one ends the holders (the one that
    // ignores SIGTERM by SIGKILL) and leaves the neighbour running.
    EXPECT_EQ(facts["unmount.busy"], std::to_string(EBUSY));
    EXPECT_EQ(facts["force.unmounted"], "1");
    EXPECT_EQ(facts["force.error"], "0");
    EXPECT_EQ(facts["force.no_line"], "0");
    EXPECT_EQ(facts["end.cwd"], "TERM");
    EXPECT_EQ(facts["end.file"], "TERM");
    EXPECT_EQ(facts["end.root"], "TERM");
    EXPECT_EQ(facts["end.map"], "KILL");
    EXPECT_EQ(facts["end.bystander"], "running");
    EXPECT_EQ(facts["force.table"], "none");

    EXPECT_EQ(facts["rescan.count"], "0");
    EXPECT_EQ(facts["rescan.error"], "0");
    EXPECT_EQ(facts["rescan.no_line"], "1");
    EXPECT_EQ(facts["unmount.again"], std::to_string(EINVAL));
    EXPECT_EQ(facts["unmount.link"], std::to_string(ELOOP));
    EXPECT_EQ(facts["dropped"], "yes");
    EXPECT_EQ(facts["free"], "1");

    EXPECT_EQ(loop_listing(), loops_before);
    EXPECT_EQ(read_all("/proc/self/mountinfo"), mounts_before);
}

}  // namespace
