// Registration and removal of users against the real daemon in a sandbox, driven by the
// client library: the files a registration leaves, the bus honouring the new policy, the
// rollback of a registration that cannot be saved, and the refusals that guard the data.

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database/entry_info.h"
#include "database/serializer.h"
#include "dbus/conf_generator.h"
#include "handlers/profile.h"
#include "integration/library_client.h"
#include "testing/account_process.h"
#include "testing/private_bus.h"
#include "testing/service_fixture.h"

namespace {

using namespace std::chrono_literals;
using library_test::bytes;
using library_test::library_client;
using library_test::text;
using zt_testing::sandbox;
namespace ds = dbus_iface::system;

constexpr const char* kAdminPassword = "correct horse";
const std::string kDatabase = std::string(sandbox::service_dir) + "/database.bin";

class Accounts : public zt_testing::service_fixture {
  protected:
    void SetUp() override {
        set_up_service({{"admin", kAdminPassword}}, {"alice", "bob", "carol"});
    }
    void started() override { m_client = std::make_unique<library_client>(*m_box); }

    bool identify(const std::string& name) {
        const auto reply = m_client->call_clear(ds::auth::identify_user(), text(name));
        EXPECT_TRUE(reply.status == 1 || reply.status == 2) << reply.status;
        return reply.is_true();
    }

    // Whether a process of account may own "ru.quorvex.<account>" on the sandbox's bus.
    bool may_own_bus_name(const std::string& account) {
        return zt_testing::run_as(*m_box, m_account[account].uid, [&] {
                   auto c = zt_testing::open_bus("unix:path=/run/dbus/system_bus_socket");
                   const std::string name = "ru.quorvex." + account;
                   return dbus_bus_request_name(c.get(), name.c_str(), DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                                nullptr) == DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
                              ? 0
                              : 1;
               }) == 0;
    }

    std::vector<std::string> entries(const std::string& dir) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(m_box->host_path(dir), ec)) {
            names.push_back(e.path().filename());
        }
        return names;
    }

    mode_t mode_of(const std::string& path) {
        struct stat st {};
        return ::lstat(m_box->host_path(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    std::unique_ptr<library_client> m_client;
};

TEST_F(Accounts, RegisteredUserGetsPolicyDirectoryAndASessionOfItsOwn) {
    auto admin = m_client->open("admin", kAdminPassword);
    // No users yet: the user list is an empty frame (8 bytes), the admin list holds admin.
    Serializer lists;
    lists.deserialize(m_client->call(*admin, ds::status::get_list(), {}).payload);
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0].size(), 8u);
    EXPECT_FALSE(may_own_bus_name("alice"));
    EXPECT_FALSE(identify("alice"));

    // A mount root that an earlier version left writable by everyone is made root's alone.
    ASSERT_EQ(::chmod(m_box->host_path("/zt").c_str(), 0777), 0);
    m_client->write_keystore("/run/ks/alice", "alice's password");
    const auto before = m_box->read_file(kDatabase);
    ASSERT_EQ(m_client->add(*admin, "alice", "/run/ks/alice"), 0);
    EXPECT_TRUE(m_box->journal().wait_for(
        [](const zt_testing::journal_entry& e) {
            return e.message() == "The request was processed: InsertUser" &&
                   e.field("ZTCTL_METHOD") == "Add" && e.field("ZTCTL_USER") == "alice";
        },
        5s));

    const auto [policy, policy_name] = conf_generator::generate("ru.quorvex.alice");
    EXPECT_EQ(m_box->read_file("/etc/dbus-1/system.d/" + policy_name), policy);
    EXPECT_EQ(mode_of("/etc/dbus-1/system.d/" + policy_name), 0644u);
    EXPECT_EQ(mode_of("/zt"), 0755u);
    EXPECT_EQ(mode_of("/zt/alice"), 0700u);
    EXPECT_FALSE(m_box->exists("/run/ks/alice"));
    EXPECT_EQ(m_box->read_file(kDatabase + ".back"), before);
    EXPECT_NE(m_box->read_file(kDatabase), before);
    // The bus rereads its policy by itself.
    EXPECT_TRUE(zt_testing::wait_until([&] { return may_own_bus_name("alice"); }, 10s));
    EXPECT_TRUE(identify("alice"));
    EXPECT_FALSE(identify(""));

    // The user needs nothing but its name and password.
    auto alice = m_client->open("alice", "alice's password");
    EntryInfo info;
    info.deserialize(m_client->call(*alice, ds::status::get_info(), {}).payload);
    EXPECT_EQ(info.name, "alice");
    EXPECT_EQ(info.type, entry_type::user);
    EXPECT_FALSE(info.extended);
    // Its material (the key store until a disk exists) holds the disk key it can open.
    EXPECT_EQ(m_client->disk_key(*alice, "alice", "alice's password").size(), 32u);
    // A user session may neither manage users nor list them; it keeps its role.
    const auto refused = [&](auto method) {
        return m_client
            ->call(*alice, std::move(method), Container::Profile("bob", "/x").serialize())
            .error()
            .value();
    };
    EXPECT_EQ(refused(ds::user_manage::admin::add()), 8192);
    EXPECT_EQ(refused(ds::user_manage::admin::remove()), 8192);
    EXPECT_EQ(refused(ds::status::get_list()), 8192);
    EXPECT_EQ(refused(ds::status::get_admin_list()), 8192);
    EXPECT_EQ(m_client->call(*alice, ds::user_manage::common::get_container(), text("admin"))
                  .error()
                  .value(),
              8193);
    info.deserialize(m_client->call(*alice, ds::status::get_info(), {}).payload);
    EXPECT_EQ(info.name, "alice");
}

// A registration that cannot be saved takes its entry out again; the id it took stays used.
TEST_F(Accounts, RegistrationThatCannotBeSavedLeavesNoUser) {
    auto admin = m_client->open("admin", kAdminPassword);
    m_client->write_keystore("/run/ks/alice", "pw a");
    const auto before = m_box->read_file(kDatabase);
    const std::string dir = sandbox::service_dir;
    for (const auto& argv : {std::vector<std::string>{"/bin/mount", "--bind", dir, dir},
                             {"/bin/mount", "-o", "remount,bind,ro", dir}}) {
        ASSERT_EQ(m_box->spawn(argv).wait(10s).value_or(-1), 0);
    }
    EXPECT_EQ(m_client->add(*admin, "alice", "/run/ks/alice"), EROFS);
    EXPECT_TRUE(logged("4", "Unable to create a user: Read-only file system"));
    EXPECT_FALSE(identify("alice"));
    EXPECT_EQ(m_box->read_file(kDatabase), before);
    EXPECT_TRUE(m_box->exists("/run/ks/alice"));  // kept for another try
    ASSERT_EQ(m_box->spawn({"/bin/umount", dir}).wait(10s).value_or(-1), 0);

    ASSERT_EQ(m_client->add(*admin, "alice", "/run/ks/alice"), 0);
    EntryInfo info;
    auto alice = m_client->open("alice", "pw a");
    info.deserialize(m_client->call(*alice, ds::status::get_info(), {}).payload);
    EXPECT_EQ(info.id, 2u);  // the rolled-back registration took 1
}

TEST_F(Accounts, RefusalsThatGuardTheData) {
    auto admin = m_client->open("admin", kAdminPassword);
    m_client->write_keystore("/run/ks/admin", "pw");
    m_client->write_keystore("/run/ks/alice", "pw a");
    // An administrator's name: refused after an id was taken for it.
    EXPECT_EQ(m_client->add(*admin, "admin", "/run/ks/admin"), 8212);
    ASSERT_EQ(m_client->add(*admin, "alice", "/run/ks/alice"), 0);
    // The same name again: 1028, and the client's file stays where it was.
    m_client->write_keystore("/run/ks/alice2", "pw a2");
    EXPECT_EQ(m_client->add(*admin, "alice", "/run/ks/alice2"), 1028);
    EXPECT_TRUE(m_box->exists("/run/ks/alice2"));
    // A key store whose container is registered already.
    m_client->write_keystore("/run/ks/bob", "pw b");
    const auto bob_file = m_box->read_file("/run/ks/bob");
    ASSERT_EQ(m_client->add(*admin, "bob", "/run/ks/bob"), 0);
    m_box->write_file("/run/ks/carol", *bob_file, 0600);
    EXPECT_EQ(m_client->add(*admin, "carol", "/run/ks/carol"), 1033);
    // An account the system does not know.
    EXPECT_EQ(m_client->add(*admin, "nobody-here", "/run/ks/alice2"), 8211);

    EntryInfo info;
    auto alice = m_client->open("alice", "pw a");
    info.deserialize(m_client->call(*alice, ds::status::get_info(), {}).payload);
    EXPECT_EQ(info.id, 2u);  // 1 went to the refused "admin"

    EXPECT_EQ(m_client
                  ->call(*admin, ds::user_manage::admin::remove(),
                         Container::Profile("zed", "").serialize())
                  .error()
                  .value(),
              8211);
    EXPECT_TRUE(logged("4", "Unable to delete a user: User doesn't exist"));
    EXPECT_EQ(m_client
                  ->call(*admin, ds::user_manage::admin::remove(),
                         Container::Profile("bob", "").serialize())
                  .error()
                  .value(),
              0);
    EXPECT_FALSE(identify("bob"));
    // The removal reaches the file with the stop's save; bob's files stay.
    EXPECT_TRUE(m_box->exists("/zt/bob"));
    client::service_reply reply;
    std::error_code ec;
    ASSERT_TRUE(admin->call(ds::control::stop(), {}, reply, ec)) << ec.message();
    ASSERT_TRUE(m_daemon.wait(30s));
    start();
    EXPECT_FALSE(identify("bob"));
    EXPECT_TRUE(identify("alice"));
}

// Names and paths come from the bus: nothing outside what a registration makes is written,
// read or removed for them.
TEST_F(Accounts, HostileNamesAndPathsAreRefused) {
    auto admin = m_client->open("admin", kAdminPassword);
    m_client->write_keystore("/run/ks/file", "pw");
    // Every refused kind is in the unit table of the name check; here only that a refusal
    // writes nothing.
    const std::vector<std::string> names = {"", "a/b", "<x>", std::string(172, 'n')};
    for (const auto& name : names) {
        EXPECT_EQ(m_client->add(*admin, name, "/run/ks/file"), 8196) << name;
    }
    EXPECT_TRUE(m_box->exists("/run/ks/file"));
    EXPECT_EQ(entries("/zt"), std::vector<std::string>{});
    EXPECT_EQ(entries("/etc/dbus-1/system.d"), std::vector<std::string>{"ru.quorvex.server.conf"});

    // A key store path must lead to a regular file without any link on the way; the file a
    // link names is neither used nor removed.
    m_box->write_file("/run/real/ks", *m_box->read_file("/run/ks/file"), 0600);
    ASSERT_EQ(::symlink("/run/real/ks", m_box->host_path("/run/ks/link").c_str()), 0);
    ASSERT_EQ(::symlink("/run/real", m_box->host_path("/run/linkdir").c_str()), 0);
    const struct {
        const char* path;
        int error;
    } paths[] = {{"/run/ks/link", ELOOP},
                 {"/run/linkdir/ks", ELOOP},
                 {"/run/ks", EINVAL},
                 {"run/ks/file", EINVAL},
                 {"/run/ks/none", ENOENT}};
    for (const auto& p : paths) {
        EXPECT_EQ(m_client->add(*admin, "alice", p.path), p.error) << p.path;
    }
    EXPECT_TRUE(m_box->exists("/run/real/ks"));
    EXPECT_FALSE(identify("alice"));

    // A mount directory planted before the registration is not used: a link, or a
    // directory of another user.
    ASSERT_EQ(::symlink("/run/real", m_box->host_path("/zt/alice").c_str()), 0);
    EXPECT_EQ(m_client->add(*admin, "alice", "/run/ks/file"), 8203);
    ASSERT_EQ(::mkdir(m_box->host_path("/zt/carol").c_str(), 0700), 0);
    ASSERT_EQ(
        ::chown(m_box->host_path("/zt/carol").c_str(), m_account["bob"].uid, m_account["bob"].uid),
        0);
    EXPECT_EQ(m_client->add(*admin, "carol", "/run/ks/file"), 8203);
    EXPECT_FALSE(identify("alice"));
    EXPECT_FALSE(identify("carol"));
    EXPECT_TRUE(m_box->exists("/run/ks/file"));
}

}  // namespace
