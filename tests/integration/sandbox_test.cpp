// The sandbox itself: what happens inside stays inside, and the fake journal sees what a
// program inside sends to the journal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;

class Sandbox : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason({.with_bus = false});
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
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
