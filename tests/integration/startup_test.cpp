// Start-up of the real daemon in a sandbox, observed through the fake journal, the exit
// status and the files it leaves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;
using zt_testing::wait_until;

constexpr const char* kPidFile = "/var/run/ztctld.pid";
const std::string kServiceFile = std::string(sandbox::service_dir) + "/service.bin";
const std::string kDatabaseFile = std::string(sandbox::service_dir) + "/database.bin";
const std::string kConfigRead = "The configuration file was successfully read";
const std::string kServiceRead = "The service file was successfully read";

// (priority, message) of the daemon's own log lines, in order.
using log_lines = std::vector<std::pair<std::string, std::string>>;

class Startup : public ::testing::Test {
  protected:
    void SetUp() override { make_box({}); }

    void make_box(sandbox::options opts) {
        const std::string reason = sandbox::unavailable_reason(opts);
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_box = std::make_unique<sandbox>(opts);
    }

    // Runs the daemon to its end; its exit code (-1 when it did not exit normally).
    int run_daemon(const std::vector<std::string>& args = {}) {
        auto daemon = m_box->start_daemon(args);
        const auto status = daemon.wait(30s);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    log_lines logged() {
        log_lines lines;
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            lines.emplace_back(e.priority(), e.message());
        }
        return lines;
    }

    // Whether a line starting with prefix was logged.
    bool logged_line(const std::string& prefix) {
        const auto lines = logged();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const auto& l) { return l.second.rfind(prefix, 0) == 0; });
    }

    // The daemon blocks reading its service file until feed_service_file() writes it.
    void block_on_service_file() {
        m_box->provision();
        m_box->make_fifo(kServiceFile);
    }
    void feed_service_file() {
        const std::string bytes = std::string(32, '\x01') + std::string(64, '\x02');
        const int fd = open(m_box->host_path(kServiceFile).c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }

    std::unique_ptr<sandbox> m_box;
};

TEST_F(Startup, ConfigurationAndServiceFileFailuresAreLoggedAndEndTheStart) {
    const std::string no_service = "Unable to load the service file: Service's file not found";
    struct row {
        std::optional<std::string> config;
        std::optional<std::string> service_file;  // nothing: none at all
        log_lines expected;
    };
    const std::string dir = std::string("service_path = ") + sandbox::service_dir + "\n";
    const row rows[] = {
        {std::nullopt, "", {{"3", "Unable to read config file: No such file or directory"}}},
        {"# none\nlaunch_in_hardened = no\n", "", {{"3", "Unable to read config file: Success"}}},
        {"service_path = ///\n", "", {{"3", "Unable to read config file: Success"}}},
        {dir,
         std::nullopt,
         {{"6", kConfigRead}, {"3", "Unable to load the service file: No such file or directory"}}},
        {dir, "", {{"6", kConfigRead}, {"3", no_service}}},
        {dir, std::string(10, 'Z'), {{"6", kConfigRead}, {"3", no_service}}},
        {dir, std::string(32, 'Z'), {{"6", kConfigRead}, {"3", no_service}}},
    };
    for (const auto& r : rows) {
        SetUp();  // a fresh sandbox per row
        if (r.config) {
            m_box->write_config(*r.config);
        }
        if (r.service_file) {
            m_box->write_file(kServiceFile, *r.service_file);
        }
        const std::string label = r.config.value_or("(none)") + " / " +
                                  std::to_string(r.service_file.value_or("-").size());
        EXPECT_EQ(run_daemon(), 0) << label;
        EXPECT_EQ(logged(), r.expected) << label;
        EXPECT_FALSE(m_box->exists(kPidFile)) << label;
        EXPECT_EQ(m_box->journal().malformed(), 0u) << label;
    }
}

TEST_F(Startup, ServiceFileWithoutDatabaseFailsAtTheDatabaseStepAndWritesNone) {
    m_box->provision();
    EXPECT_EQ(run_daemon(), 0);
    const auto lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].second, kConfigRead);
    EXPECT_EQ(lines[1].second, kServiceRead);
    EXPECT_EQ(lines[2].first, "3");
    EXPECT_TRUE(logged_line("Unable to load the database file: ")) << lines[2].second;
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_FALSE(m_box->exists(kDatabaseFile));
}

TEST_F(Startup, PidFileHoldsThePidWhileRunningAndIsGoneAfter) {
    block_on_service_file();
    auto daemon = m_box->start_daemon();
    const std::string expected = std::to_string(daemon.pid()) + "\n";
    ASSERT_TRUE(wait_until([&] { return m_box->read_file(kPidFile) == expected; }, 20s));
    EXPECT_TRUE(daemon.running());
    // The daemon clears its file mask; the pid file must still not be writable by others.
    struct stat st {};
    ASSERT_EQ(stat(m_box->host_path(kPidFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    feed_service_file();
    const auto status = daemon.wait(20s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_TRUE(logged_line(kServiceRead));
}

TEST_F(Startup, SigtermDuringStartupStopsWithoutTouchingTheDatabase) {
    block_on_service_file();
    const std::string stored = "stored database: not to be replaced \x01\x02\x03";
    m_box->write_file(kDatabaseFile, stored, 0600);
    auto daemon = m_box->start_daemon();
    ASSERT_TRUE(wait_until([&] { return m_box->exists(kPidFile); }, 20s));

    daemon.signal(SIGTERM);
    // The signal is carried to the main loop, not acted on in the signal context: the
    // daemon is still there, blocked in its start-up.
    EXPECT_FALSE(daemon.wait(300ms));
    feed_service_file();

    const auto status = daemon.wait(20s);
    ASSERT_TRUE(status);
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_EQ(m_box->read_file(kDatabaseFile), stored);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_FALSE(logged_line("Unable to save the database"));
}

TEST_F(Startup, DetachedDaemonRecordsItsOwnPidAndCleansUp) {
    block_on_service_file();
    auto launcher = m_box->start_daemon({"-d"});
    const auto status = launcher.wait(20s);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);  // the launching process leaves at once

    // The detached grandchild writes the pid file and blocks on its service file. A complete
    // record ends in a newline; the file may be caught between creation and write.
    std::string recorded;
    ASSERT_TRUE(wait_until(
        [&] {
            recorded = m_box->read_file(kPidFile).value_or("");
            return !recorded.empty() && recorded.back() == '\n';
        },
        20s));
    const pid_t detached = static_cast<pid_t>(std::stol(recorded));
    EXPECT_NE(detached, launcher.pid());
    EXPECT_EQ(kill(detached, 0), 0);
    // It left the test's session, and is not the leader of its new one.
    EXPECT_NE(getsid(detached), getsid(0));
    EXPECT_NE(getsid(detached), detached);
    // Its standard input is /dev/null rather than left free for the next file it opens.
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink(
                  "/proc/" + recorded.substr(0, recorded.size() - 1) + "/fd/0", ec),
              "/dev/null");

    feed_service_file();
    EXPECT_TRUE(wait_until([&] { return !m_box->exists(kPidFile); }, 20s));
    EXPECT_TRUE(
        m_box->journal().wait_for([](const auto& e) { return e.message() == kServiceRead; }, 10s));
}

// Service directories made by the provisioning tool. Without a system bus the start fails
// at the bus step at the latest.
class DatabaseStartup : public Startup {
  protected:
    void SetUp() override {
        if (!sandbox::has_provisioning_tool()) {
            GTEST_SKIP() << "the provisioning tool is not built";
        }
        make_box({.with_bus = false});
        if (m_box) {
            m_box->provision_with_tool({{"root", "integration password"}});
        }
    }
};

TEST_F(DatabaseStartup, ProvisionedDatabaseLoadsThenTheBusStepFailsAndFilesStayUnchanged) {
    const auto service = m_box->read_file(kServiceFile);
    const auto database = m_box->read_file(kDatabaseFile);
    ASSERT_TRUE(service && database);

    EXPECT_EQ(run_daemon(), 0);
    const auto lines = logged();
    const auto loaded =
        std::find(lines.begin(), lines.end(),
                  log_lines::value_type{"6", "The database file was successfully read"});
    ASSERT_NE(loaded, lines.end()) << ::testing::PrintToString(lines);
    ASSERT_EQ(loaded + 2, lines.end()) << ::testing::PrintToString(lines);
    EXPECT_EQ(loaded[1].first, "3");
    EXPECT_EQ(loaded[1].second.rfind("System failure: ", 0), 0u) << loaded[1].second;
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_EQ(m_box->read_file(kServiceFile), service);
    EXPECT_EQ(m_box->read_file(kDatabaseFile), database);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
}

TEST_F(DatabaseStartup, CorruptedDatabaseIsRefusedAndLeftUntouched) {
    auto content = m_box->read_file(kDatabaseFile);
    ASSERT_TRUE(content && content->size() > 64u);
    (*content)[content->size() - 20] ^= 0x40;
    m_box->write_file(kDatabaseFile, *content, 0600);

    EXPECT_EQ(run_daemon(), 0);
    EXPECT_TRUE(logged_line("Unable to load the database file: Database corrupted"))
        << ::testing::PrintToString(logged());
    EXPECT_FALSE(logged_line("The database file was successfully read"));
    EXPECT_EQ(m_box->read_file(kDatabaseFile), content);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
}

}  // namespace
