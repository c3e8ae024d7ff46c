// A save of the database interrupted at each of its steps, by SIGKILL or by a failing
// write, fsync or rename (the fault injector of testing/fault, preloaded into the real
// daemon): after a restart the database loads and holds the state before the registration
// or the state after it, never a third; "database.bin.back" is always a valid earlier
// version; a failed save answers the error and leaves the files as they were, also when the
// service directory's file system is really full.
//
// ZT_LONG_TESTS=1 runs each crash point 100 times instead of twice.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "integration/library_client.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using library_test::library_client;
using library_test::text;
using zt_testing::sandbox;
namespace ds = dbus_iface::system;

constexpr const char* kAdminPassword = "correct horse";
const std::string kDir = sandbox::service_dir;
const std::string kDatabase = kDir + "/database.bin";
const std::string kBackup = kDatabase + ".back";

class DatabaseFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason();
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>();
        m_box->provision_with_tool({{"admin", kAdminPassword}});
        m_box->add_account("alice");
        m_box->add_account("bob");
        // bob's registration gives the database a backup; alice's key store is made once.
        start();
        auto admin = m_client->open("admin", kAdminPassword);
        m_client->write_keystore("/run/ks/bob", "bob's password");
        ASSERT_EQ(m_client->add(*admin, "bob", "/run/ks/bob"), 0);
        m_client->write_keystore("/run/alice.keystore", "alice's password");
        admin.reset();
        stop();
        m_database = m_box->read_file(kDatabase).value_or("");
        m_backup = m_box->read_file(kBackup).value_or("");
        ASSERT_FALSE(m_database.empty());
        ASSERT_FALSE(m_backup.empty());
        ASSERT_NE(m_database, m_backup);
    }

    void start(const std::string& fault = {}) {
        m_daemon = m_box->start_daemon({}, {}, fault);
        ASSERT_TRUE(m_box->wait_for_name("ru.quorvex.server", m_daemon, 30s));
        m_client = std::make_unique<library_client>(*m_box);
    }

    void stop() {
        m_client.reset();
        m_daemon.signal(SIGTERM);
        ASSERT_EQ(m_daemon.wait(30s), 0);
    }

    // The service directory as it was before alice's registration.
    void restore() {
        m_box->write_file(kDatabase, m_database, 0600);
        m_box->write_file(kBackup, m_backup, 0600);
        m_box->write_file("/run/ks/alice", m_box->read_file("/run/alice.keystore").value(), 0600);
    }

    // The error value of alice's registration; nothing when no answer came.
    std::optional<int> register_alice() {
        auto admin = m_client->open("admin", kAdminPassword);
        client::service_reply reply;
        std::error_code ec;
        if (!admin->call(ds::user_manage::admin::add(),
                         Container::Profile("alice", "/run/ks/alice").serialize(), reply, ec)) {
            return std::nullopt;
        }
        return reply.error().value();
    }

    // Runs argv in the sandbox; its exit status (-1 when it did not end in time).
    int run(const std::vector<std::string>& argv) {
        auto child = m_box->spawn(argv);
        const auto status = child.wait(30s);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    bool registered(const std::string& name) {
        return m_client->call_clear(ds::auth::identify_user(), text(name)).is_true();
    }

    std::unique_ptr<sandbox> m_box;
    zt_testing::child_process m_daemon;
    std::unique_ptr<library_client> m_client;
    std::string m_database, m_backup;
};

TEST_F(DatabaseFaults, KilledAtAnyStepOfASaveTheDatabaseHoldsTheOldOrTheNewState) {
    const std::string dir_name = kDir.substr(kDir.rfind('/'));
    const struct {
        const char* where;
        std::string fault;
    } points[] = {
        {"before the backup copy", "link:/database.bin:1:kill"},
        {"after the backup copy", "link:/database.bin:1:kill-after"},
        {"the new file created", "open:/database.bin.new:1:kill-after"},
        {"during the write of the new file", "write:/database.bin.new:1:kill-partial"},
        {"before its fsync", "fsync:/database.bin.new:1:kill"},
        {"after its fsync", "fsync:/database.bin.new:1:kill-after"},
        {"before the backup takes its place", "rename:/database.bin.back.new:1:kill"},
        {"after the backup took its place", "rename:/database.bin.back.new:1:kill-after"},
        {"before the rename", "rename:/database.bin.new:1:kill"},
        {"after the rename", "rename:/database.bin.new:1:kill-after"},
        {"after the directory's fsync", "fsync:" + dir_name + ":1:kill-after"},
    };
    const char* long_mode = std::getenv("ZT_LONG_TESTS");
    const int runs = long_mode != nullptr && std::string(long_mode) == "1" ? 100 : 2;
    for (const auto& point : points) {
        for (int run = 0; run < runs; ++run) {
            SCOPED_TRACE(std::string(point.where) + ", run " + std::to_string(run));
            restore();
            start(point.fault);
            EXPECT_EQ(register_alice(), std::nullopt);
            const auto status = m_daemon.wait(30s);
            // The fault point was reached: the daemon died there.
            ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);

            start();
            const std::string database = m_box->read_file(kDatabase).value_or("");
            const std::string backup = m_box->read_file(kBackup).value_or("");
            EXPECT_TRUE(registered("bob"));
            // The old file whole, or a new one holding alice.
            EXPECT_EQ(registered("alice"), database != m_database);
            EXPECT_TRUE(backup == m_backup || backup == m_database);
            stop();
        }
    }
}

// A failing write, fsync or rename of the new file: the request answers the error, the
// files are as they were, and the daemon's memory agrees with them.
TEST_F(DatabaseFaults, FailedSaveAnswersTheErrorAndChangesNothing) {
    const struct {
        std::string fault;
        int error;
    } rows[] = {
        {"write:/database.bin.new:1:ENOSPC", ENOSPC},
        {"fsync:/database.bin.new:1:EIO", EIO},
        {"rename:/database.bin.new:1:EIO", EIO},
        {"rename:/database.bin.back.new:1:EIO", EIO},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        restore();
        start(row.fault);
        EXPECT_EQ(register_alice(), row.error);
        EXPECT_FALSE(registered("alice"));
        EXPECT_TRUE(registered("bob"));
        EXPECT_EQ(m_box->read_file(kDatabase), m_database);
        EXPECT_EQ(m_box->read_file(kBackup), m_backup);
        EXPECT_FALSE(m_box->exists(kDatabase + ".new"));
        // The key store stays for a retry.
        EXPECT_TRUE(m_box->exists("/run/ks/alice"));
        m_client.reset();
        m_daemon.signal(SIGKILL);  // a stop would save
        m_daemon.wait(30s);
    }
}

// The service directory on a small tmpfs filled to the last page: the save fails with
// ENOSPC, the files stay as they were, and once there is room again the same registration
// succeeds, so the daemon kept no trace of the failed one.
TEST_F(DatabaseFaults, FullFileSystemAnswersNoSpaceAndTheRetrySucceeds) {
    restore();
    const std::string service = m_box->read_file(kDir + "/service.bin").value();
    ASSERT_EQ(run({"/bin/mount", "-t", "tmpfs", "-o", "size=1m,mode=0700", "zt-full", kDir}), 0);
    m_box->write_file(kDir + "/service.bin", service, 0600);
    restore();
    start();
    const std::string filler = kDir + "/filler";
    EXPECT_NE(run({"/bin/sh", "-c", "exec cat /dev/zero > " + filler}), 0);  // ENOSPC ends it

    EXPECT_EQ(register_alice(), ENOSPC);
    EXPECT_FALSE(registered("alice"));
    EXPECT_EQ(m_box->read_file(kDatabase), m_database);
    EXPECT_EQ(m_box->read_file(kBackup), m_backup);
    EXPECT_FALSE(m_box->exists(kDatabase + ".new"));
    EXPECT_FALSE(m_box->exists(kBackup + ".new"));

    ASSERT_EQ(run({"/bin/rm", filler}), 0);
    EXPECT_EQ(register_alice(), 0);
    EXPECT_TRUE(registered("alice"));
    EXPECT_EQ(m_box->read_file(kBackup), m_database);
    stop();
    EXPECT_EQ(run({"/bin/umount", kDir}), 0);
}

}  // namespace
