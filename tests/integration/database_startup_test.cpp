// Start-up of the real daemon with a service directory made by ztctl-provision: the
// database is loaded (or refused) before the bus step.
#include <sys/wait.h>

#include <csignal>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;

const std::string kDatabaseFile = std::string(sandbox::service_dir) + "/database.bin";

class DatabaseStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason({.with_bus = true});
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_box = std::make_unique<sandbox>();
        m_box->write_file("/etc/ztctl/root.pw", "integration password\n", 0600);
        auto tool = m_box->spawn({ZTCTL_PROVISION, "--service-dir", sandbox::service_dir, "--admin",
                                  "root:/etc/ztctl/root.pw", "--iterations", "1000",
                                  "--allow-low-iterations"});
        const auto status = tool.wait(30s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << "ztctl-provision failed";
        m_box->write_config(std::string("service_path = ") + sandbox::service_dir + "\n");
    }

    // Runs the daemon until its start-up has passed the database step: a daemon that goes
    // on to serve the bus is stopped with SIGTERM. Its exit code (-1 when it did not exit).
    int run_daemon() {
        auto daemon = m_box->start_daemon();
        m_box->journal().wait_for(
            [](const zt_testing::journal_entry& e) {
                const std::string message = e.message();
                return message == "Initialization succeeded" ||
                       message.rfind("System failure: ", 0) == 0 ||
                       message.rfind("Unable to load the database file: ", 0) == 0;
            },
            30s);
        if (daemon.running()) {
            daemon.signal(SIGTERM);
        }
        const auto status = daemon.wait(30s);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::vector<std::string> messages() {
        std::vector<std::string> lines;
        for (const auto& entry : m_box->journal().entries_of("ztctld")) {
            lines.push_back(entry.message());
        }
        return lines;
    }

    std::unique_ptr<sandbox> m_box;
};

std::size_t index_of(const std::vector<std::string>& lines, const std::string& prefix) {
    const auto it = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    return static_cast<std::size_t>(it - lines.begin());
}

TEST_F(DatabaseStartup, ProvisionedDatabaseLoadsAndStartUpGoesOnToTheBus) {
    EXPECT_EQ(run_daemon(), 0);
    const auto lines = messages();
    const std::size_t loaded = index_of(lines, "The database file was successfully read");
    ASSERT_LT(loaded, lines.size()) << ::testing::PrintToString(lines);
    // The next step is the bus registration (it may or may not succeed in this build); the
    // database step itself logged no failure.
    EXPECT_EQ(index_of(lines, "Unable to load the database file"), lines.size());
    ASSERT_LT(loaded + 1, lines.size());
    EXPECT_TRUE(lines[loaded + 1].rfind("System failure: ", 0) == 0 ||
                lines[loaded + 1] == "Initialization succeeded")
        << lines[loaded + 1];
    // Whatever the bus step did, the stored database is still one the service can read:
    // a failed start leaves it alone, a stop saves it whole.
    EXPECT_EQ(index_of(lines, "Unable to save the database"), lines.size());
}

TEST_F(DatabaseStartup, CorruptedDatabaseIsRefusedAndLeftUntouched) {
    auto content = m_box->read_file(kDatabaseFile);
    ASSERT_TRUE(content.has_value());
    ASSERT_GT(content->size(), 64u);
    (*content)[content->size() - 20] = static_cast<char>((*content)[content->size() - 20] ^ 0x40);
    m_box->write_file(kDatabaseFile, *content, 0600);

    EXPECT_EQ(run_daemon(), 0);
    const auto lines = messages();
    EXPECT_LT(index_of(lines, "Unable to load the database file: Database corrupted"), lines.size())
        << ::testing::PrintToString(lines);
    EXPECT_EQ(index_of(lines, "The database file was successfully read"), lines.size());
    EXPECT_EQ(m_box->read_file(kDatabaseFile), content);
    EXPECT_FALSE(m_box->exists(kDatabaseFile + ".back"));
}

}  // namespace
