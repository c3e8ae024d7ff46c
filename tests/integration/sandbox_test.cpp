// The sandbox itself: what happens inside stays inside, and the fake journal sees what a
// program inside sends to the journal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;

bool host_has(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

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
        EXPECT_FALSE(host_has(dir + "/" + probe)) << dir;
    }
    EXPECT_TRUE(m_box->exists("/run/" + probe));  // the same file as /var/run's
}

TEST_F(Sandbox, EachSandboxStartsEmpty) {
    m_box->write_config("service_path = /somewhere\n");
    sandbox other(sandbox::options{.with_bus = false});
    EXPECT_FALSE(other.exists("/etc/ztctl/ztctl.conf"));
    EXPECT_TRUE(other.exists("/etc/dbus-1/system.d/ru.quorvex.server.conf"));
}

TEST_F(Sandbox, JournalReceivesWhatAProgramInsideLogs) {
    if (access("/usr/bin/logger", X_OK) != 0) {
        GTEST_SKIP() << "util-linux logger is not installed";
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string fields = "MESSAGE=probe 100% done\nPRIORITY=3\n";
    ASSERT_EQ(write(fds[1], fields.data(), fields.size()), static_cast<ssize_t>(fields.size()));
    close(fds[1]);
    zt_testing::spawn_options io;
    io.stdin_fd = fds[0];
    auto logger = m_box->spawn({"/usr/bin/logger", "--journald"}, io);
    close(fds[0]);
    ASSERT_TRUE(logger.wait(10s));
    const auto entry = m_box->journal().wait_for(
        [](const auto& e) { return e.message() == "probe 100% done"; }, 10s);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->priority(), "3");
}

// Too large for one datagram: the sender passes a memory file instead.
TEST_F(Sandbox, JournalReceivesMessagesTooLargeForADatagram) {
    if (access("/usr/bin/logger", X_OK) != 0) {
        GTEST_SKIP() << "util-linux logger is not installed";
    }
    const std::string big(600 * 1024, 'z');
    const std::string path = "/run/zt-sandbox/big-message";
    m_box->write_file(path, "MESSAGE=" + big + "\nPRIORITY=4\n");
    const int fd = open(m_box->host_path(path).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    zt_testing::spawn_options io;
    io.stdin_fd = fd;
    auto logger = m_box->spawn({"/usr/bin/logger", "--journald"}, io);
    close(fd);
    ASSERT_TRUE(logger.wait(10s));
    const auto entry =
        m_box->journal().wait_for([&](const auto& e) { return e.message() == big; }, 10s);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->priority(), "4");
}

}  // namespace
