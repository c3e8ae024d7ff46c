// The sandbox itself: what happens inside stays inside, and the fake journal sees what a
// program inside sends to the journal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using zt_testing::sandbox;

std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename());
    }
    return names;
}

// Runs in a child of its own: gives it a host without /zt, /etc/ztctl and /etc/dbus-1 (a root
// like the real one, but with an empty /etc and no /zt), builds a sandbox there and exits
// with 0 when that host kept its root and /etc as they were.
[[noreturn]] void sandbox_on_host_without_mount_points() {
    const auto fail = [](const std::string& what) {
        std::cerr << what << std::endl;
        _exit(1);
    };
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) {
        fail("cannot build the host");
    }
    for (const auto& entry : fs::directory_iterator("/")) {
        const fs::path to = "/run" / entry.path().filename();
        if (entry.path() == "/run" || entry.path() == "/zt" || entry.path() == "/etc") {
            continue;
        }
        if (entry.is_symlink()) {
            fs::create_symlink(fs::read_symlink(entry), to);
            continue;
        }
        entry.is_directory() ? (void)fs::create_directory(to) : (void)std::ofstream(to);
        if (mount(entry.path().c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
            fail("cannot bind " + entry.path().string());
        }
    }
    fs::create_directory("/run/etc");
    fs::create_directory("/run/run");
    if (chroot("/run") != 0 || chdir("/") != 0) {
        fail("cannot enter the host");
    }
    const auto root = names_in("/");
    try {
        const sandbox box(sandbox::options{.with_bus = false});
        for (const char* point : {"/zt", "/etc/ztctl", "/etc/dbus-1/system.d"}) {
            if (!box.exists(point)) {
                fail(std::string("the sandbox lacks ") + point);
            }
        }
    } catch (const std::exception& e) {
        fail(e.what());
    }
    if (names_in("/") != root || !fs::is_empty("/etc")) {
        fail("the host gained a mount point");
    }
    _exit(0);
}

class Sandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason({.with_bus = false});
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>(sandbox::options{.with_bus = false});
    }

    std::unique_ptr<sandbox> m_box;
};

TEST_F(Sandbox, FilesWrittenInsideNeverReachTheHost) {
    const std::string probe = "zt-sandbox-probe-" + std::to_string(getpid());
    // /var/run is a link to /run: it must lead to the sandbox's /run, not the host's.
    for (const std::string dir :
         {"/var/run", "/run", "/etc/ztctl", "/zt", "/etc/dbus-1/system.d"}) {
        m_box->write_file(dir + "/" + probe, "x");
        EXPECT_TRUE(m_box->exists(dir + "/" + probe)) << dir;
        EXPECT_FALSE(std::filesystem::exists(dir + "/" + probe)) << dir;
    }
    EXPECT_TRUE(m_box->exists("/run/" + probe));  // the same file as /var/run's
}

TEST_F(Sandbox, HostFilesStayVisibleInside) {
    for (const char* dir : {"/", "/etc", "/etc/dbus-1"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            EXPECT_TRUE(m_box->exists(entry.path())) << entry.path();
        }
    }
    std::ifstream passwd("/etc/passwd");
    EXPECT_EQ(m_box->read_file("/etc/passwd"),
              std::string(std::istreambuf_iterator<char>(passwd), {}));
}

TEST_F(Sandbox, MountPointsAreNeverMadeOnTheHost) {
    EXPECT_EXIT(sandbox_on_host_without_mount_points(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Sandbox, EachSandboxStartsEmpty) {
    m_box->write_config("service_path = /somewhere\n");
    sandbox other(sandbox::options{.with_bus = false});
    EXPECT_FALSE(other.exists("/etc/ztctl/ztctl.conf"));
    EXPECT_TRUE(other.exists("/etc/dbus-1/system.d/ru.quorvex.server.conf"));
}

// The second message is too large for one datagram: the sender passes a memory file instead.
TEST_F(Sandbox, JournalReceivesWhatAProgramInsideLogsOfAnySize) {
    if (access("/usr/bin/logger", X_OK) != 0) {
        GTEST_SKIP() << "util-linux logger is not installed";
    }
    for (const std::string& text : {std::string("probe 100% done"), std::string(600 * 1024, 'z')}) {
        m_box->write_file("/run/zt-sandbox/message", "MESSAGE=" + text + "\nPRIORITY=3\n");
        const zt_testing::unique_fd in(
            open(m_box->host_path("/run/zt-sandbox/message").c_str(), O_RDONLY | O_CLOEXEC));
        EXPECT_TRUE(
            m_box->spawn({"/usr/bin/logger", "--journald"}, {.stdin_fd = in.get()}).wait(10s));
        const auto entry =
            m_box->journal().wait_for([&](const auto& e) { return e.message() == text; }, 10s);
        ASSERT_TRUE(entry) << text.size();
        EXPECT_EQ(entry->priority(), "3");
    }
}

}  // namespace
