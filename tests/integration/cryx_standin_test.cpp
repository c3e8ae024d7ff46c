// The encryption driver stand-in, driven through its control node as the daemon drives it
// (zt-cryx-ctl under the preload library): it really encrypts, refuses what the driver
// refuses, and a sandbox that ends leaves no loop device, mount, node or process behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/host_state.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::cryx_module;
using zt_testing::sandbox;

constexpr const char* kContainer = "/run/zt-sandbox/disk.img";
constexpr const char* kMountPoint = "/zt/disk";

const sandbox::options kOptions{.with_bus = false, .with_cryx = true};

std::string read_host_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string random_bytes(std::size_t size) {
    std::random_device device;
    std::string bytes(size, '\0');
    for (auto& b : bytes) {
        b = static_cast<char>(device());
    }
    return bytes;
}

bool loop_attached(long number) {
    return access(("/sys/block/loop" + std::to_string(number) + "/loop/backing_file").c_str(),
                  F_OK) == 0;
}

struct outcome {
    int status = -1;  // exit status, -1 when the program did not end normally
    std::string out;
    std::string err;
};

// Runs command with /bin/sh inside box; with preload it sees the driver as the daemon does.
outcome run_sh(const sandbox& box, const std::string& command, bool preload = false) {
    zt_testing::spawn_options io{.ns_fd = box.namespace_fd()};
    if (preload) {
        io.env = box.cryx_environment();
    }
    const auto result = zt_testing::run_captured(
        {"/bin/sh", "-c", "PATH=/usr/sbin:/usr/bin:/sbin:/bin; " + command}, 60s, io);
    outcome o{-1, result.out, result.err};
    if (result.status && WIFEXITED(*result.status)) {
        o.status = WEXITSTATUS(*result.status);
    }
    return o;
}

// A 64 MiB container in the sandbox's /run attached to a loop device; the device's node.
std::string make_loop(const sandbox& box) {
    const auto made = run_sh(
        box, std::string("truncate -s 64M ") + kContainer + " && losetup -f --show " + kContainer);
    EXPECT_EQ(made.status, 0) << made.err;
    return made.out.substr(0, made.out.find('\n'));
}

// Why these tests cannot run here; empty if they can.
std::string unavailable_reason() {
    const std::string reason = sandbox::unavailable_reason(kOptions);
    return reason.empty() && access("/sbin/mkfs.ext4", X_OK) != 0 ? "mkfs.ext4 is not installed"
                                                                  : reason;
}

class CryxStandin : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string reason = unavailable_reason(); !reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>(kOptions);
        m_loop = make_loop(*m_box);
        m_box->write_file("/run/key-a", random_bytes(32), 0600);
        m_box->write_file("/run/key-b", random_bytes(32), 0600);
    }

    outcome sh(const std::string& command, bool preload = false) const {
        return run_sh(*m_box, command, preload);
    }

    // zt-cryx-ctl with the arguments, under the preload library.
    outcome ctl(const std::string& arguments) const {
        return sh(sandbox::cryx_ctl_path() + " " + arguments, true);
    }

    // Adds a device over the loop device with the key file; its number (-1 on failure).
    int add(const std::string& key_file) const {
        const auto added = ctl("add " + m_loop + " --key-file " + key_file);
        EXPECT_EQ(added.status, 0) << added.err;
        return added.status == 0 ? std::stoi(added.out) : -1;
    }

    static std::string node(int number) { return "/dev/cryx" + std::to_string(number); }

    outcome mount(int number) const {
        return sh(std::string("mkdir -p ") + kMountPoint + " && mount " + node(number) + " " +
                  kMountPoint);
    }

    std::unique_ptr<sandbox> m_box;
    std::string m_loop;
};

// A file system made through it reads back under the same key, and the container holds no
// plaintext; it refuses what the driver refuses; its module line and control node follow
// the module state.
TEST_F(CryxStandin, EncryptsRefusesWhatTheDriverRefusesAndFollowsTheModuleState) {
    {
        const int number = add("/run/key-a");
        ASSERT_GE(number, 0);
        EXPECT_TRUE(m_box->exists(node(number)));
        EXPECT_FALSE(std::filesystem::exists(node(number))) << "the node reached the host's /dev";
        ASSERT_EQ(sh("mkfs.ext4 -q " + node(number)).status, 0);
        ASSERT_EQ(mount(number).status, 0);

        // Registered like a disk: /sys/block, seen through the preload, names the node's device
        // number, and the mount tables show the node under it.
        struct stat st {};
        ASSERT_EQ(stat(m_box->host_path(node(number)).c_str(), &st), 0);
        const std::string dev =
            std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        EXPECT_EQ(sh("cat /sys/block/cryx" + std::to_string(number) + "/dev", true).out,
                  dev + "\n");
        EXPECT_NE(sh("cat /proc/self/mounts").out.find(node(number) + " " + kMountPoint + " ext4"),
                  std::string::npos);
        EXPECT_NE(sh("cat /proc/self/mountinfo").out.find(" " + dev + " / " + kMountPoint + " "),
                  std::string::npos);

        // A marker that fills whole blocks, unique to this run.
        const std::string marker = "zt-cryx-marker-" + std::to_string(getpid()) + "-" +
                                   std::to_string(std::random_device()()) + ";";
        std::string text;
        while (text.size() < 64 * 1024) {
            text += marker;
        }
        m_box->write_file(std::string(kMountPoint) + "/marker", text);
        EXPECT_EQ(ctl("remove " + std::to_string(number)).status, EBUSY);
        ASSERT_EQ(sh(std::string("umount ") + kMountPoint).status, 0);
        ASSERT_EQ(ctl("remove " + std::to_string(number)).status, 0);
        EXPECT_FALSE(m_box->exists(node(number)));

        EXPECT_EQ(read_host_file(m_box->host_path(kContainer)).find(marker), std::string::npos)
            << "the container holds plaintext";

        const int again = add("/run/key-a");
        ASSERT_GE(again, 0);
        ASSERT_EQ(mount(again).status, 0);
        EXPECT_EQ(m_box->read_file(std::string(kMountPoint) + "/marker"), text);
        ASSERT_EQ(sh(std::string("umount ") + kMountPoint).status, 0);
        EXPECT_EQ(ctl("remove " + std::to_string(again)).status, 0);

        // Another key shows noise that neither mounts nor looks like a file system.
        const int other = add("/run/key-b");
        ASSERT_GE(other, 0);
        EXPECT_NE(mount(other).status, 0);
        EXPECT_NE(sh("blkid -p " + node(other)).status, 0)
            << "a file system shows under another key";
        EXPECT_EQ(ctl("remove " + std::to_string(other)).status, 0);
    }
    {
        const int number = add("/run/key-a");
        ASSERT_GE(number, 0);
        m_box->write_file("/run/plain-file", "not a block device");
        struct row {
            std::string arguments;
            int error;
        };
        const std::vector<row> rows{
            {"add " + m_loop, EINVAL},  // a record without keys
            {"add " + m_loop + " --key-file /run/key-a --mode 3", EINVAL},
            {"add /run/plain-file --key-file /run/key-a", ENOTBLK},
            {"add " + m_loop + " --key-file /run/key-a --number " + std::to_string(number), EEXIST},
            {"add " + m_loop + " --key-file /run/key-a", EBUSY},  // the driver holds it already
            {"remove " + std::to_string(number + 100), ENXIO},
            {"remove -1", ENXIO},
        };
        for (const auto& r : rows) {
            EXPECT_EQ(ctl(r.arguments).status, r.error) << r.arguments;
        }

        // Open, not mounted, is busy too; the device stays usable.
        {
            const zt_testing::unique_fd open_node(
                open(m_box->host_path(node(number)).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_TRUE(open_node);
            EXPECT_EQ(ctl("remove " + std::to_string(number)).status, EBUSY);
        }
        EXPECT_EQ(ctl("remove " + std::to_string(number)).status, 0);
    }
    struct row {
        cryx_module state;
        std::string line;   // the driver's line, empty when absent
        int control_error;  // of an open of the control node (through a remove of nothing)
    };
    const std::vector<row> rows{
        {cryx_module::live, "cryx 49152 0 - Live 0x0000000000000000 (OE)\n", ENXIO},
        {cryx_module::loading, "cryx 49152 1 - Loading 0x0000000000000000 (OE)\n", ENXIO},
        {cryx_module::absent, "", ENOENT},
    };
    for (const auto& r : rows) {
        m_box->set_cryx_module(r.state);
        const std::string table = sh("cat /proc/modules", true).out;
        EXPECT_EQ(table, "cryxfs 20480 0 - Live 0x0000000000000000\n" + r.line);
        EXPECT_EQ(ctl("remove 5").status, r.control_error) << r.line;
    }
    // Without the preload nothing of it shows.
    EXPECT_EQ(sh("cat /proc/modules").out.find("cryx"), std::string::npos);
}

TEST(CryxStandinTeardown, LeavesNoLoopDeviceMountNodeOrProcess) {
    if (const std::string reason = unavailable_reason(); !reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    const std::string mounts_before = read_host_file("/proc/self/mountinfo");
    const std::string loops_before = zt_testing::attached_loops();
    std::set<long> used;  // loop devices the sandbox attached
    pid_t driver = -1;
    {
        sandbox box(kOptions);
        driver = box.cryx_driver_pid();
        box.write_file("/run/key", random_bytes(32), 0600);
        const std::string loop = make_loop(box);
        ASSERT_TRUE(loop.starts_with("/dev/loop")) << loop;
        used.insert(std::stol(loop.substr(9)));
        const auto added =
            run_sh(box, sandbox::cryx_ctl_path() + " add " + loop + " --key-file /run/key", true);
        ASSERT_EQ(added.status, 0) << added.err;
        const std::string node = "/dev/cryx" + added.out.substr(0, added.out.find('\n'));
        struct stat st {};
        ASSERT_EQ(stat(box.host_path(node).c_str(), &st), 0);
        used.insert(static_cast<long>(minor(st.st_rdev)));
        // Left mounted, written to and held open by a process, as a crashed test would.
        const auto busy =
            run_sh(box, "mkfs.ext4 -q " + node + " && mkdir /zt/m && mount " + node +
                            " /zt/m && dd if=/dev/urandom of=/zt/m/f bs=1M count=4 2>/dev/null && "
                            "(sleep 600 < " +
                            node + " > /dev/null 2>&1 &)");
        ASSERT_EQ(busy.status, 0) << busy.err;
        for (const long number : used) {
            ASSERT_TRUE(loop_attached(number)) << number;
        }
    }
    for (const long number : used) {
        EXPECT_FALSE(loop_attached(number)) << "loop" << number << " is still attached";
    }
    EXPECT_EQ(read_host_file("/proc/self/mountinfo"), mounts_before);
    // Other users of the machine may attach loop devices meanwhile, but none of the sandbox's
    // is listed and every entry gone was the sandbox's.
    const std::string loops_after = zt_testing::attached_loops();
    for (const long number : used) {
        const std::string entry = "/dev/loop" + std::to_string(number) + ":";
        EXPECT_EQ(loops_after.find(entry), std::string::npos) << loops_after;
        EXPECT_EQ(loops_before.find(entry), std::string::npos) << loops_before;
    }
    EXPECT_NE(access(("/proc/" + std::to_string(driver)).c_str(), F_OK), 0)
        << "the driver process is still there";
    EXPECT_FALSE(std::filesystem::exists("/dev/cryx0"));
}

}  // namespace
