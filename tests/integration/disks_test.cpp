// Disk creation against the real daemon in a sandbox with the encryption driver stand-in:
// real loop devices, real mkfs, and the failures that must leave nothing attached.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "database/entry_info.h"
#include "handlers/disk.h"
#include "handlers/disk_control.h"
#include "integration/library_client.h"
#include "testing/host_state.h"
#include "testing/service_fixture.h"

namespace {

using namespace std::chrono_literals;
using library_test::bytes;
using library_test::library_client;
using zt_testing::sandbox;
namespace ds = dbus_iface::system;

constexpr const char* kAdminPassword = "correct horse";
constexpr const char* kAlicePassword = "alice pw";
constexpr std::uint64_t kSize = 32u << 20;

using zt_testing::attached_loops;

class Disks : public zt_testing::service_fixture {
  protected:
    void SetUp() override {
        m_loops_before = attached_loops();
        ASSERT_NO_FATAL_FAILURE(
            set_up_service({{"admin", kAdminPassword}}, {"alice", "bob"}, {.with_cryx = true}));
        if (IsSkipped()) {
            return;
        }
        m_box->write_file("/run/disks/.keep", "");
        m_admin = m_client->open("admin", kAdminPassword);
        for (const auto& [name, pw] : {std::pair{"alice", kAlicePassword}, {"bob", "bob pw"}}) {
            m_client->write_keystore(std::string("/run/ks-") + name, pw);
            ASSERT_EQ(m_client->add(*m_admin, name, std::string("/run/ks-") + name), 0);
        }
    }
    void started() override { m_client = std::make_unique<library_client>(*m_box); }

    void TearDown() override {
        m_admin.reset();
        m_client.reset();
        service_fixture::TearDown();
        m_box.reset();
        EXPECT_EQ(attached_loops(), m_loops_before);
    }

    // The error value of a "Create" (0 for success).
    int create(const std::string& user, const std::string& path, std::uint64_t size,
               const std::string& fs = "ext4") {
        return m_client
            ->call(*m_admin, ds::disk_manage::admin::create(),
                   Container::Disk(user, path, fs, size).serialize())
            .error()
            .value();
    }

    // Runs a shell script inside the sandbox, seeing the driver as the daemon does.
    int shell(const std::string& script) {
        zt_testing::spawn_options io;
        io.env = m_box->cryx_environment();
        auto child = m_box->spawn({"/bin/sh", "-c", script}, io);
        const auto status = child.wait(60s);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::unique_ptr<library_client> m_client;
    std::unique_ptr<client::session> m_admin;
    std::string m_loops_before;
};

// The life of a disk on one service: creations that fail leave nothing attached; the created
// disk is encrypted, owned by its user and recorded; mounted with the key only its user can
// open, used, and released plainly, by force (ending exactly its holders) or by the end of
// the session.
TEST_F(Disks, FailedCreationsLeaveNothingCreatedDiskMountsAndIsReleasedPlainlyOrByForce) {
    // A formatting tool that fails, in place of one the tests do not need.
    m_box->write_file("/run/mkfs-fails", "#!/bin/sh\nexit 1\n", 0755);
    ASSERT_EQ(m_box->spawn({"/bin/mount", "--bind", "/run/mkfs-fails", "/sbin/mkfs.bfs"})
                  .wait(10s)
                  .value_or(-1),
              0);
    m_box->write_file("/run/disks/existing", "keep me", 0600);
    ASSERT_EQ(::mkdir(m_box->host_path("/run/shared").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(m_box->host_path("/run/shared").c_str(), 01777), 0);
    const struct {
        std::string path;
        std::uint64_t size;
        const char* fs;
        int error;
        bool file_left;
    } cases[] = {
        {"/run/disks/a.img", kSize, "EXT4", 8202, false},
        {"/run/disks/existing", kSize, "ext4", EEXIST, true},
        {"/run/disks/zero.img", 0, "ext4", EINVAL, true},
        {"/run/disks/broken.img", kSize, "bfs", 1, false},
        {"run/disks/relative.img", kSize, "ext4", 8196, false},
        {"/run/disks/../disks/dots.img", kSize, "ext4", 8196, false},
        {"/run/shared/alice.img", kSize, "ext4", 8196, false},
        // The kernel would read only up to the NUL and create /run/disks/nul.img.
        {std::string("/run/disks/nul.img\0", 19), kSize, "ext4", 8196, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(create("alice", c.path, c.size, c.fs), c.error) << c.path;
        EXPECT_EQ(m_box->exists(c.path[0] == '/' ? c.path.c_str() : "/" + c.path), c.file_left)
            << c.path;
        EXPECT_EQ(attached_loops(), m_loops_before) << c.path;
    }
    EXPECT_EQ(m_box->read_file("/run/disks/existing"), "keep me");
    EXPECT_TRUE(logged("4", "Unable to create a disk: Filesystem isn't supported"));

    // The driver must be live.
    m_box->set_cryx_module(zt_testing::cryx_module::absent);
    EXPECT_EQ(create("alice", "/run/disks/b.img", kSize), 8206);
    m_box->set_cryx_module(zt_testing::cryx_module::loading);
    EXPECT_EQ(create("alice", "/run/disks/b.img", kSize), 8206);
    m_box->set_cryx_module(zt_testing::cryx_module::live);
    EXPECT_FALSE(m_box->exists("/run/disks/b.img"));

    // Only administrators create, once per user; users ask about their own disk only.
    auto alice = m_client->open("alice", kAlicePassword);
    EXPECT_EQ(m_client
                  ->call(*alice, ds::disk_manage::admin::create(),
                         Container::Disk("alice", "/run/disks/c.img", "ext4", kSize).serialize())
                  .error()
                  .value(),
              8192);
    ASSERT_EQ(create("alice", "/run/disks/alice.img", kSize), 0);
    EXPECT_EQ(create("alice", "/run/disks/other.img", kSize), 8198);
    EXPECT_FALSE(m_box->exists("/run/disks/other.img"));
    auto bob = m_client->open("bob", "bob pw");
    EXPECT_FALSE(m_client->call(*bob, ds::disk_manage::user::is_created(), {}).is_true());
    EXPECT_EQ(m_client->call(*bob, ds::disk_manage::user::get_ready(), {}).error().value(), 8197);
    EXPECT_EQ(m_client->call(*m_admin, ds::disk_manage::user::get_status(), {}).error().value(),
              8209);
    EXPECT_EQ(attached_loops(), m_loops_before);

    // The created disk: a container of the size asked for, the user's alone.
    struct stat st {};
    ASSERT_EQ(::stat(m_box->host_path("/run/disks/alice.img").c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), kSize);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, m_account["alice"].uid);
    EXPECT_EQ(st.st_gid, m_account["alice"].gid);

    EntryInfo info;
    info.deserialize(m_client->call(*alice, ds::status::get_info(), {}).payload);
    ASSERT_TRUE(info.extended);
    EXPECT_EQ(info.ext.status, DiskStateInfo::created);
    EXPECT_EQ(info.ext.uuid.size(), 36u);
    EXPECT_EQ(info.ext.path, "/run/disks/alice.img");
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::get_status(), {}).payload,
              (bytes{1, 0, 0, 0}));
    EXPECT_TRUE(m_client->call(*alice, ds::disk_manage::user::is_created(), {}).is_true());
    EXPECT_TRUE(m_client->call(*alice, ds::disk_manage::user::get_ready(), {}).is_true());
    std::string upper = info.ext.uuid;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_TRUE(
        m_client
            ->call(*alice, ds::disk_manage::user::is_exist_uuid(), DiskControl(upper).serialize())
            .is_true());
    EXPECT_FALSE(m_client
                     ->call(*alice, ds::disk_manage::user::is_exist_uuid(),
                            DiskControl("no uuid").serialize())
                     .is_true());

    // The disk key is the user's alone: the material opens with its password, and the
    // device made with it holds a file system on which a marker is written; the container
    // itself never shows the marker.
    const auto raw = m_client->disk_key(*alice, "alice", kAlicePassword);
    ASSERT_EQ(raw.size(), 32u);
    m_box->write_file("/run/disk.key", std::string(raw.begin(), raw.end()), 0600);
    const std::string ctl = sandbox::cryx_ctl_path();
    EXPECT_EQ(shell("set -e; loop=$(losetup -f --show /run/disks/alice.img); "
                    "n=$(" +
                    ctl +
                    " add $loop --key-file /run/disk.key); "
                    "mkdir -p /run/m; mount /dev/cryx$n /run/m; "
                    "echo zt-plaintext-marker-4711 > /run/m/marker; umount /run/m; " +
                    ctl + " remove $n; losetup -d $loop"),
              0);
    const auto image = m_box->read_file("/run/disks/alice.img").value_or("");
    EXPECT_EQ(image.size(), kSize);
    EXPECT_EQ(image.find("zt-plaintext-marker-4711"), std::string::npos);

    // Mounted with the key only alice can open; a busy disk refuses a plain unmount.
    const auto& key = raw;
    const auto mounts = [&] {
        std::ifstream in("/proc/" + std::to_string(m_daemon.pid()) + "/mountinfo");
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };

    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::mount(), {}).error().value(), 8196);
    EXPECT_NE(m_client->call(*alice, ds::disk_manage::user::mount(), bytes(32, 1)).error().value(),
              0);
    EXPECT_EQ(attached_loops(), m_loops_before);  // a wrong key leaves nothing attached
    ASSERT_EQ(m_client->call(*alice, ds::disk_manage::user::mount(), key).error().value(), 0);
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::mount(), key).error().value(), 8200);
    const std::string table = mounts();
    ASSERT_NE(table.find(" /zt/alice "), std::string::npos) << table;
    const auto line = table.substr(table.find(" /zt/alice "), 200);
    EXPECT_NE(line.find("nosuid"), std::string::npos) << line;
    EXPECT_NE(line.find("nodev"), std::string::npos) << line;
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::get_status(), {}).payload,
              (bytes{2, 0, 0, 0}));

    // A shell of alice sits in her disk; another sits in a directory whose name merely starts
    // with hers.
    ASSERT_EQ(::mkdir(m_box->host_path("/zt/alice-other").c_str(), 0755), 0);
    zt_testing::spawn_options as_alice;
    as_alice.uid = m_account["alice"].uid;
    as_alice.gid = m_account["alice"].gid;
    auto holder = m_box->spawn({"/bin/sh", "-c", "cd /zt/alice && echo kept > f && exec sleep 600"},
                               as_alice);
    auto bystander = m_box->spawn({"/bin/sh", "-c", "cd /zt/alice-other && exec sleep 600"});
    // Held once the shell has written its file and become sleep.
    const auto comm = [](const zt_testing::child_process& p) {
        std::ifstream in("/proc/" + std::to_string(p.pid()) + "/comm");
        std::string name;
        std::getline(in, name);
        return name;
    };
    ASSERT_TRUE(zt_testing::wait_until(
        [&] {
            return m_box->read_file("/zt/alice/f") == "kept\n" && comm(holder) == "sleep" &&
                   comm(bystander) == "sleep";
        },
        10s));
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::unmount(), {}).error().value(), EBUSY);
    ASSERT_EQ(m_client->call(*alice, ds::disk_manage::user::force_unmount(), {}).error().value(),
              0);
    EXPECT_TRUE(holder.wait(10s).has_value());
    EXPECT_TRUE(bystander.running());
    EXPECT_EQ(mounts().find(" /zt/alice "), std::string::npos);
    EXPECT_EQ(attached_loops(), m_loops_before);
    // The journal names the process that was ended, and its entries about the disk carry
    // the method, the user and the disk as fields of their own.
    std::string mounted_uuid, ended_uuid;
    for (const auto& e : m_box->journal().entries_of("ztctld")) {
        if (e.message() == "The request was processed: Mount" &&
            e.field("ZTCTL_METHOD") == "Mount" && e.field("ZTCTL_USER") == "alice") {
            mounted_uuid = e.field("ZTCTL_DISK_UUID");
        }
        if (e.priority() == "6" && e.message().find("Ended process") != std::string::npos &&
            e.message().find("(sleep)") != std::string::npos &&
            e.field("ZTCTL_METHOD") == "ForceUnmount" && e.field("ZTCTL_USER") == "alice") {
            ended_uuid = e.field("ZTCTL_DISK_UUID");
        }
    }
    EXPECT_EQ(mounted_uuid.size(), 36u);
    EXPECT_EQ(ended_uuid, mounted_uuid);
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::unmount(), {}).error().value(), 8201);

    // Mounted again, the file is there; a plain unmount; then a mount that the end of the
    // session takes down.
    ASSERT_EQ(m_client->call(*alice, ds::disk_manage::user::mount(), key).error().value(), 0);
    EXPECT_EQ(m_box->read_file("/zt/alice/f"), "kept\n");
    ASSERT_EQ(m_client->call(*alice, ds::disk_manage::user::unmount(), {}).error().value(), 0);
    EXPECT_EQ(m_client->call(*alice, ds::disk_manage::user::get_status(), {}).payload,
              (bytes{3, 0, 0, 0}));
    ASSERT_EQ(m_client->call(*alice, ds::disk_manage::user::mount(), key).error().value(), 0);
    std::error_code ec;
    ASSERT_TRUE(alice->close(ec)) << ec.message();
    EXPECT_TRUE(zt_testing::wait_until(
        [&] { return mounts().find(" /zt/alice ") == std::string::npos; }, 10s));
    EXPECT_EQ(attached_loops(), m_loops_before);
}

}  // namespace
