// Loop devices on the real kernel: a container file in the sandbox is attached, looked at
// through sysfs and the kernel's status record, rebuilt from its node path and detached, and
// the machine's loop devices are as before afterwards.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "system/loop_device.h"
#include "testing/process.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using sys::LoopDevice;

constexpr const char* kDir = "/run/loop-test";
constexpr const char* kLosetup = "/usr/sbin/losetup";
// 2048 whole sectors and a partial one, which the device does not map.
constexpr off_t kFileSize = (1 << 20) + 100;

std::string first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string sysfs(long number, const std::string& entry) {
    return first_line("/sys/block/loop" + std::to_string(number) + "/" + entry);
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

  private:
    int m_fd;
};

// Creates a container of kFileSize bytes at path.
bool make_container(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool made = fd >= 0 && ::ftruncate(fd, kFileSize) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return made;
}

// Attaches path to a free device; another program may take the free number first (EBUSY),
// so a few numbers are tried.
LoopDevice attach(const std::string& path, report& out, const std::string& key) {
    std::error_code ec;
    for (int attempt = 0; attempt < 5; ++attempt) {
        LoopDevice device;
        if (LoopDevice::get_free(device, ec) && device.set_backing_file(path, ec)) {
            out.note(key + ".number", device.get_number());
            if (device.setup(ec)) {
                out.note(key + ".attached", 1);
                return device;
            }
        }
        if (ec != std::error_code(EBUSY, std::system_category())) {
            break;
        }
    }
    out.note(key + ".error", ec.message());
    return {};
}

// Notes what sysfs and the kernel's status record say about device.
void describe(const LoopDevice& device, report& out, const std::string& key) {
    const long number = device.get_number();
    out.note(key + ".sectors", sysfs(number, "size"));
    out.note(key + ".backing", sysfs(number, "loop/backing_file"));
    out.note(key + ".ro", sysfs(number, "ro"));
    out.note(key + ".autoclear", sysfs(number, "loop/autoclear"));
    out.note(key + ".info_ro", (device.get_info().lo_flags & LO_FLAGS_READ_ONLY) != 0);
    const int fd = ::open(device.get_device_name().c_str(), O_RDONLY | O_CLOEXEC);
    loop_info64 status{};
    std::error_code ec;
    if (fd >= 0 && sys::get_status(fd, &status, ec)) {
        out.note(key + ".status_number", status.lo_number);
        out.note(key + ".status_ro", (status.lo_flags & LO_FLAGS_READ_ONLY) != 0);
        out.note(key + ".status_offset", status.lo_offset);
        out.note(key + ".status_limit", status.lo_sizelimit);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

// Detaches the file of device and closes the handle; the kernel finishes the detach when
// the last descriptor of the node is closed.
void detach(LoopDevice device, report& out, const std::string& key) {
    std::error_code ec;
    out.note(key + ".dropped", device.drop(ec) ? "yes" : ec.message());
    const std::string backing =
        "/sys/block/loop" + std::to_string(device.get_number()) + "/loop/backing_file";
    device = LoopDevice();
    out.note(key + ".free",
             zt_testing::wait_until([&] { return ::access(backing.c_str(), F_OK) != 0; }, 10s));
}

// Runs inside the sandbox's mount namespace.
[[noreturn]] void scenario(report out) {
    const std::string disk = std::string(kDir) + "/disk.img";
    const std::string ro_dir = std::string(kDir) + "/ro";
    const std::string ro_disk = ro_dir + "/disk.img";
    if (::mkdir(kDir, 0700) != 0 || !make_container(disk) || ::mkdir(ro_dir.c_str(), 0700) != 0 ||
        ::mount("tmpfs", ro_dir.c_str(), "tmpfs", 0, "size=4m") != 0 || !make_container(ro_disk) ||
        ::mount(nullptr, ro_dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        out.note("prepare.error", std::strerror(errno));
        _exit(0);
    }

    std::string node;
    {
        // The handle of the attaching request goes; the device stays attached.
        LoopDevice device = attach(disk, out, "rw");
        if (!device.used()) {
            _exit(0);
        }
        describe(device, out, "rw");
        node = device.get_device_name();
    }
    // A later request rebuilds the handle from the node path and detaches the file.
    LoopDevice restored;
    std::error_code ec;
    out.note("restore.result", restored.restore(node, ec) ? "yes" : ec.message());
    out.note("restore.number", restored.get_number());
    // A restored handle cannot attach again.
    out.note("restore.setup", restored.set_backing_file(disk, ec) ? "yes" : ec.message());
    detach(std::move(restored), out, "restore");

    // A file on a read-only file system is attached read-only.
    LoopDevice read_only = attach(ro_disk, out, "ro");
    if (read_only.used()) {
        describe(read_only, out, "ro");
        detach(std::move(read_only), out, "ro");
    }
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

// Detaches a device that still holds a file of the scenario (a scenario that died midway).
void detach_leftover(const std::string& number) {
    const long n = std::stol(number);
    if (sysfs(n, "loop/backing_file").find("loop-test/") == std::string::npos) {
        return;
    }
    const int fd = ::open(sys::build_loop_dev_name(n).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::ioctl(fd, LOOP_CLR_FD, 0);
        ::close(fd);
    }
    ADD_FAILURE() << "the scenario left loop" << n << " attached";
}

std::string loop_listing() {
    const auto listed = zt_testing::run_captured({kLosetup, "-a"}, 30s);
    EXPECT_TRUE(listed.status && WIFEXITED(*listed.status) && WEXITSTATUS(*listed.status) == 0);
    return listed.out;
}

TEST(LoopDeviceOnTheKernel, AttachesChecksRestoresAndDetaches) {
    const zt_testing::sandbox::options options{.with_bus = false};
    if (const auto reason = zt_testing::sandbox::unavailable_reason(options); !reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    if (::access("/dev/loop-control", R_OK | W_OK) != 0 || ::access(kLosetup, X_OK) != 0) {
        ZT_SKIP_UNLESS_REQUIRED("no loop control node or no losetup here");
    }
    const std::string before = loop_listing();

    std::map<std::string, std::string> facts;
    {
        zt_testing::sandbox box(options);
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(ends[0]);
            if (::setns(box.namespace_fd(), CLONE_NEWNS) != 0) {
                _exit(1);
            }
            scenario(report(ends[1]));
        }
        ::close(ends[1]);
        // The report is far smaller than the pipe's buffer: it waits there until the end.
        int status = -1;
        EXPECT_TRUE(
            zt_testing::wait_until([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60s));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::string text;
        char buffer[512];
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(ends[0]);
        facts = parse_report(text);
        for (const char* key : {"rw.number", "ro.number"}) {
            if (facts.count(key) != 0) {
                detach_leftover(facts[key]);
            }
        }
    }
    ASSERT_EQ(facts["prepare.error"], "");
    ASSERT_EQ(facts["rw.attached"], "1") << facts["rw.error"];

    // The whole file, less its partial last sector, in a device not set to clear itself.
    EXPECT_EQ(facts["rw.sectors"], "2048");
    EXPECT_EQ(facts["rw.backing"], std::string(kDir) + "/disk.img");
    EXPECT_EQ(facts["rw.ro"], "0");
    EXPECT_EQ(facts["rw.autoclear"], "0");
    EXPECT_EQ(facts["rw.status_number"], facts["rw.number"]);
    EXPECT_EQ(facts["rw.status_ro"], "0");
    EXPECT_EQ(facts["rw.status_offset"], "0");
    EXPECT_EQ(facts["rw.status_limit"], "0");

    EXPECT_EQ(facts["restore.result"], "yes");
    EXPECT_EQ(facts["restore.number"], facts["rw.number"]);
    EXPECT_EQ(facts["restore.setup"], "Device is busy");
    EXPECT_EQ(facts["restore.dropped"], "yes");
    EXPECT_EQ(facts["restore.free"], "1");

    ASSERT_EQ(facts["ro.attached"], "1") << facts["ro.error"];
    EXPECT_EQ(facts["ro.info_ro"], "1");
    EXPECT_EQ(facts["ro.ro"], "1");
    EXPECT_EQ(facts["ro.status_ro"], "1");
    EXPECT_EQ(facts["ro.sectors"], "2048");
    EXPECT_EQ(facts["ro.dropped"], "yes");
    EXPECT_EQ(facts["ro.free"], "1");

    EXPECT_EQ(loop_listing(), before);
}

}  // namespace
