// Start-up of the real daemon in a sandbox, observed through the fake journal, the exit
// status and the files it leaves.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "testing/required_environment.h"
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

using log_lines = std::vector<std::pair<std::string, std::string>>;

class Startup : public ::testing::Test {
  protected:
    void SetUp() override { make_box(); }
    void make_box(sandbox::options opts = {}) {
        const std::string reason = sandbox::unavailable_reason(opts);
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>(opts);
    }

    // Runs the daemon to its end; its raw wait status (0: exited with 0).
    std::optional<int> run_daemon() { return m_box->start_daemon().wait(30s); }

    // (priority, message) of the daemon's own log lines, in order.
    log_lines logged() {
        log_lines lines;
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            lines.emplace_back(e.priority(), e.message());
        }
        return lines;
    }

    bool logged_line_starting(const std::string& prefix) {
        return std::ranges::any_of(logged(),
                                   [&](const auto& l) { return l.second.starts_with(prefix); });
    }

    // The daemon blocks reading its service file until feed_service_file() writes it.
    void block_on_service_file() {
        m_box->provision();
        m_box->make_fifo(kServiceFile);
    }
    void feed_service_file() {
        m_box->write_file(kServiceFile, std::string(32, '\x01') + std::string(64, '\x02'), 0600);
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
        SCOPED_TRACE(r.config.value_or("(none)") + " / " + r.service_file.value_or("(none)"));
        EXPECT_EQ(run_daemon(), 0);
        EXPECT_EQ(logged(), r.expected);
        EXPECT_FALSE(m_box->exists(kPidFile));
        EXPECT_EQ(m_box->journal().malformed(), 0u);
    }
}

// Started by hand on a terminal, the daemon also prints its warnings and errors there (the
// journal still gets them and the exit status stays); the info lines stay in the journal.
TEST_F(Startup, OnATerminalErrorsAreAlsoPrinted) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    m_box->write_config(std::string("service_path = ") + sandbox::service_dir + "\n");
    auto daemon = m_box->start_daemon({}, {.stderr_fd = terminal});
    EXPECT_EQ(daemon.wait(30s), 0);
    ::close(terminal);
    std::string shown;
    char buffer[512];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
        shown.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(master);
    EXPECT_NE(shown.find("ztctld: Unable to load the service file: No such file or directory"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find(kConfigRead), std::string::npos) << shown;
    EXPECT_TRUE(logged_line_starting("Unable to load the service file"));
}

TEST_F(Startup, ServiceFileWithoutDatabaseFailsAtTheDatabaseStepAndWritesNone) {
    m_box->provision();
    EXPECT_EQ(run_daemon(), 0);
    auto lines = logged();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].first, "3");
    EXPECT_EQ(log_lines(lines.begin(), lines.end() - 1),
              (log_lines{{"6", kConfigRead}, {"6", kServiceRead}}));
    EXPECT_TRUE(lines[2].second.starts_with("Unable to load the database file: "))
        << lines[2].second;
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_FALSE(m_box->exists(kDatabaseFile));
}

// The pid file holds the running daemon's pid; a second instance, which fails at its own
// start, leaves it; it is gone once the daemon has ended.
TEST_F(Startup, PidFileHoldsThePidWhileRunningASecondInstanceLeavesItAndItIsGoneAfter) {
    block_on_service_file();
    auto daemon = m_box->start_daemon();
    const std::string expected = std::to_string(daemon.pid()) + "\n";
    ASSERT_TRUE(wait_until([&] { return m_box->read_file(kPidFile) == expected; }, 20s));
    EXPECT_TRUE(daemon.running());
    // The daemon clears its file mask; the pid file must still not be writable by others.
    EXPECT_EQ(std::filesystem::status(m_box->host_path(kPidFile)).permissions(),
              std::filesystem::perms(0644));
    // It holds keys: it allows itself no core file.
    std::ifstream limits("/proc/" + std::to_string(daemon.pid()) + "/limits");
    const std::string text{std::istreambuf_iterator<char>(limits), {}};
    EXPECT_TRUE(std::regex_search(text, std::regex("Max core file size +0 +0 ")));

    ASSERT_TRUE(
        m_box->journal().wait_for([](const auto& e) { return e.message() == kConfigRead; }, 20s));
    m_box->write_config("# no service_path: the second start fails at once\n");
    EXPECT_EQ(run_daemon(), 0);
    EXPECT_TRUE(logged_line_starting("Unable to read config file: "));
    EXPECT_EQ(m_box->read_file(kPidFile), expected);

    feed_service_file();
    EXPECT_EQ(daemon.wait(20s), 0);  // exited with 0
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_TRUE(logged_line_starting(kServiceRead));
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

    EXPECT_EQ(daemon.wait(20s), 0);  // exited with 0, not ended by the signal
    EXPECT_EQ(m_box->read_file(kDatabaseFile), stored);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_FALSE(logged_line_starting("Unable to save the database"));
}

TEST_F(Startup, DetachedDaemonRecordsItsOwnPidAndCleansUp) {
    block_on_service_file();
    auto launcher = m_box->start_daemon({"-d"});
    ASSERT_EQ(launcher.wait(20s), 0);  // the launching process leaves at once

    // The detached grandchild records itself and blocks on its service file; a complete
    // record ends in a newline.
    std::string recorded;
    ASSERT_TRUE(wait_until(
        [&] { return (recorded = m_box->read_file(kPidFile).value_or("")).ends_with('\n'); }, 20s));
    const pid_t detached = static_cast<pid_t>(std::stol(recorded));
    EXPECT_NE(detached, launcher.pid());
    EXPECT_EQ(kill(detached, 0), 0);
    // It left the test's session, and is not the leader of its new one.
    EXPECT_NE(getsid(detached), getsid(0));
    EXPECT_NE(getsid(detached), detached);
    // Its standard input is /dev/null rather than left free for the next file it opens.
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(detached) + "/fd/0"),
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
            ZT_SKIP_UNLESS_REQUIRED("the provisioning tool is not built");
        }
        make_box({.with_bus = false});
        if (!IsSkipped()) {
            m_box->provision_with_tool({{"root", "integration password"}});
        }
    }
};

TEST_F(DatabaseStartup, ProvisionedDatabaseLoadsACorruptedOneIsRefusedAndBothStayUnchanged) {
    const auto service = m_box->read_file(kServiceFile);
    const auto database = m_box->read_file(kDatabaseFile);

    EXPECT_EQ(run_daemon(), 0);
    // The database loads and the next, last line is the bus step's failure.
    const auto lines = logged();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.end()[-2],
              (log_lines::value_type{"6", "The database file was successfully read"}))
        << ::testing::PrintToString(lines);
    EXPECT_EQ(lines.back().first, "3");
    EXPECT_TRUE(lines.back().second.starts_with("System failure: ")) << lines.back().second;
    EXPECT_FALSE(m_box->exists(kPidFile));
    EXPECT_EQ(m_box->read_file(kServiceFile), service);
    EXPECT_EQ(m_box->read_file(kDatabaseFile), database);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));

    // The same database with one bit changed is refused.
    auto content = database;
    ASSERT_TRUE(content && content->size() > 64u);
    (*content)[content->size() - 20] ^= 0x40;
    m_box->write_file(kDatabaseFile, *content, 0600);

    EXPECT_EQ(run_daemon(), 0);
    EXPECT_EQ(logged().back(),
              (log_lines::value_type{"3", "Unable to load the database file: Database corrupted"}))
        << ::testing::PrintToString(logged());
    EXPECT_EQ(m_box->read_file(kDatabaseFile), content);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
}

}  // namespace
