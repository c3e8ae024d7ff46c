// Start-up of the real daemon in a sandbox, observed through the fake journal, the exit
// status and the files it leaves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::journal_entry;
using zt_testing::sandbox;

constexpr const char* kPidFile = "/var/run/ztctld.pid";
const std::string kServiceFile = std::string(sandbox::service_dir) + "/service.bin";
const std::string kDatabaseFile = std::string(sandbox::service_dir) + "/database.bin";

// (priority, message) of the daemon's own log lines, in order.
using log_lines = std::vector<std::pair<std::string, std::string>>;

class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason({.with_bus = true});
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_box = std::make_unique<sandbox>();
    }

    // Runs the daemon to its end; its exit code (-1 when it did not exit normally).
    int run_daemon() {
        auto daemon = m_box->start_daemon();
        const auto status = daemon.wait(20s);
        if (!status || !WIFEXITED(*status)) {
            return -1;
        }
        return WEXITSTATUS(*status);
    }

    log_lines logged() {
        log_lines lines;
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            lines.emplace_back(e.priority(), e.message());
        }
        return lines;
    }

    // Waits until the pid file holds exactly "<pid>\n".
    bool wait_for_pid_file(pid_t pid, std::chrono::milliseconds timeout) {
        const std::string expected = std::to_string(pid) + "\n";
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_box->read_file(kPidFile) == expected) {
                return true;
            }
            usleep(5000);
        }
        return false;
    }

    // Waits until path is gone.
    bool wait_until_gone(const std::string& path, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!m_box->exists(path)) {
                return true;
            }
            usleep(5000);
        }
        return false;
    }

    // Opening the FIFO for writing releases the daemon blocked on reading it.
    void feed_fifo(const std::string& path, const std::string& bytes) {
        const int fd = open(m_box->host_path(path).c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }

    std::unique_ptr<sandbox> m_box;
};

const std::pair<std::string, std::string> kConfigRead{
    "6", "The configuration file was successfully read"};
const std::pair<std::string, std::string> kServiceRead{"6",
                                                       "The service file was successfully read"};

TEST_F(Startup, ConfigurationWithoutServicePathFailsCleanly) {
    m_box->write_config("# no service directory here\nlaunch_in_hardened = no\n");
    EXPECT_EQ(run_daemon(), 0);
    EXPECT_EQ(logged(), (log_lines{{"3", "Unable to read config file: Success"}}));
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_EQ(m_box->journal().malformed(), 0u);
}

TEST_F(Startup, MissingConfigurationFileIsReportedWithTheSystemError) {
    EXPECT_EQ(run_daemon(), 0);
    EXPECT_EQ(logged(),
              (log_lines{{"3", "Unable to read config file: No such file or directory"}}));
    EXPECT_FALSE(m_box->exists(kPidFile));
}

TEST_F(Startup, ServicePathOfOnlySlashesCountsAsMissing) {
    m_box->write_config("service_path = ///\n");
    EXPECT_EQ(run_daemon(), 0);
    EXPECT_EQ(logged(), (log_lines{{"3", "Unable to read config file: Success"}}));
}

TEST_F(Startup, ShortServiceFileIsReportedAsNotFound) {
    for (std::size_t size : {0u, 10u, 32u}) {
        SetUp();  // a fresh sandbox per size
        m_box->provision();
        m_box->write_file(kServiceFile, std::string(size, '\x5a'));
        EXPECT_EQ(run_daemon(), 0) << size;
        EXPECT_EQ(logged(), (log_lines{kConfigRead,
                                       {"3",
                                        "Unable to load the service file: Service's file "
                                        "not found"}}))
            << size;
        EXPECT_FALSE(m_box->exists(kPidFile)) << size;
    }
}

TEST_F(Startup, MissingServiceFileIsReportedWithTheSystemError) {
    m_box->write_config(std::string("service_path = ") + sandbox::service_dir + "\n");
    EXPECT_EQ(run_daemon(), 0);
    EXPECT_EQ(logged(),
              (log_lines{kConfigRead,
                         {"3", "Unable to load the service file: No such file or directory"}}));
}

TEST_F(Startup, ValidServiceFileReachesTheDatabaseStepAndFailsThere) {
    m_box->provision();
    EXPECT_EQ(run_daemon(), 0);
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], kConfigRead);
    EXPECT_EQ(lines[1], kServiceRead);
    EXPECT_EQ(lines[2].first, "3");
    EXPECT_EQ(lines[2].second.rfind("Unable to load the database file: ", 0), 0u)
        << lines[2].second;
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_FALSE(m_box->exists(kDatabaseFile));  // a failed start writes no database
}

TEST_F(Startup, PidFileHoldsThePidWhileRunningAndIsGoneAfter) {
    m_box->provision();
    m_box->write_file(kServiceFile, "");
    unlink(m_box->host_path(kServiceFile).c_str());
    // The daemon blocks reading its service file until the test writes it.
    m_box->make_fifo(kServiceFile);
    auto daemon = m_box->start_daemon();
    ASSERT_TRUE(wait_for_pid_file(daemon.pid(), 20s));
    EXPECT_TRUE(daemon.running());
    // The daemon clears its file mask; the pid file must still not be writable by others.
    struct stat st {};
    ASSERT_EQ(stat(m_box->host_path(kPidFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    feed_fifo(kServiceFile, std::string(32, '\x01') + std::string(64, '\x02'));
    const auto status = daemon.wait(20s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(m_box->exists(kPidFile));
    const auto lines = logged();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], kServiceRead);
}

TEST_F(Startup, SigtermDuringStartupStopsWithoutTouchingTheDatabase) {
    m_box->provision();
    const std::string stored = "stored database: not to be replaced \x01\x02\x03";
    m_box->write_file(kDatabaseFile, stored, 0600);
    unlink(m_box->host_path(kServiceFile).c_str());
    m_box->make_fifo(kServiceFile);
    auto daemon = m_box->start_daemon();
    ASSERT_TRUE(wait_for_pid_file(daemon.pid(), 20s));

    daemon.signal(SIGTERM);
    // The signal is carried to the main loop, not acted on in the signal context: the
    // daemon is still there, blocked in its start-up.
    EXPECT_FALSE(daemon.wait(300ms));
    feed_fifo(kServiceFile, std::string(32, '\x01') + std::string(64, '\x02'));

    const auto status = daemon.wait(20s);
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(m_box->read_file(kDatabaseFile), stored);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
    EXPECT_FALSE(m_box->exists(kPidFile));
    for (const auto& [priority, message] : logged()) {
        EXPECT_EQ(message.find("Unable to save the database"), std::string::npos) << message;
    }
}

TEST_F(Startup, DetachedDaemonRecordsItsOwnPidAndCleansUp) {
    m_box->provision();
    unlink(m_box->host_path(kServiceFile).c_str());
    m_box->make_fifo(kServiceFile);
    auto launcher = m_box->start_daemon({"-d"});
    const auto status = launcher.wait(20s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);  // the launching process leaves at once

    // The detached grandchild writes the pid file and blocks on its service file.
    // A complete record ends in a newline; the file may be caught between creation and write.
    std::optional<std::string> recorded;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        recorded = m_box->read_file(kPidFile);
        if ((recorded && !recorded->empty() && recorded->back() == '\n') ||
            std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        usleep(5000);
    }
    ASSERT_TRUE(recorded);
    ASSERT_FALSE(recorded->empty());
    ASSERT_EQ(recorded->back(), '\n');
    const pid_t detached = static_cast<pid_t>(std::stol(*recorded));
    EXPECT_NE(detached, launcher.pid());
    EXPECT_EQ(kill(detached, 0), 0);
    // It left the test's session, and is not the leader of its new one.
    EXPECT_NE(getsid(detached), getsid(0));
    EXPECT_NE(getsid(detached), detached);
    // Its standard input is gone, replaced by /dev/null rather than left free for the
    // next file it opens.
    char input[64] = {};
    ASSERT_GT(
        readlink(("/proc/" + std::to_string(detached) + "/fd/0").c_str(), input, sizeof input - 1),
        0);
    EXPECT_STREQ(input, "/dev/null");

    feed_fifo(kServiceFile, std::string(32, '\x01') + std::string(64, '\x02'));
    EXPECT_TRUE(wait_until_gone(kPidFile, 20s));
    EXPECT_TRUE(m_box->journal().wait_for(
        [](const auto& e) { return e.message() == "The service file was successfully read"; },
        10s));
}

TEST_F(Startup, FailedStartLeavesAProvisionedServiceDirectoryUnchanged) {
    if (!sandbox::has_provisioning_tool()) {
        GTEST_SKIP() << "the provisioning tool is not built";
    }
    // No system bus: the start fails at the bus at the latest, however far it gets.
    m_box = std::make_unique<sandbox>(sandbox::options{.with_bus = false});
    m_box->provision_with_tool();
    const auto service = m_box->read_file(kServiceFile);
    const auto database = m_box->read_file(kDatabaseFile);
    ASSERT_TRUE(service && database);

    EXPECT_EQ(run_daemon(), 0);
    const auto lines = logged();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], kConfigRead);
    EXPECT_EQ(lines[1], kServiceRead);
    // Whichever step stops this start, it is an error and the last line.
    EXPECT_EQ(lines.back().first, "3");
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_EQ(m_box->read_file(kServiceFile), service);
    EXPECT_EQ(m_box->read_file(kDatabaseFile), database);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
}

}  // namespace
