#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "system/os.h"
#include "temp_dir.h"
#include "testing/required_environment.h"

namespace {

void touch(const std::string& path) {
    std::ofstream(path) << "content";
}

using OsCreateFile = TempDir;

// An existing file (also one a link points to, or would) is left alone; the disk tests show
// the refusal of a taken path and of a zero size through the service.
TEST_F(OsCreateFile, CreatesMode0600WithReservedSpaceAndNeverThroughALink) {
    std::error_code ec;
    const off_t size = 1 << 20;
    ASSERT_TRUE(os::create_file(path("disk.img"), size, ec)) << ec.message();
    const auto info = stat_of(path("disk.img"));
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_size, size);
    EXPECT_GE(info.st_blocks * 512, size);  // allocated, not a sparse hole

    ASSERT_EQ(::symlink(path("target").c_str(), path("link").c_str()), 0);
    EXPECT_FALSE(os::create_file(path("link"), 4096, ec));
    EXPECT_EQ(ec, std::error_code(EEXIST, std::system_category()));
    EXPECT_FALSE(os::exists(path("target")));
    EXPECT_FALSE(os::create_file(path("no/dir/file"), 512, ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));
}

using OsFiles = TempDir;

TEST_F(OsFiles, FailuresGiveErrno) {
    std::error_code ec;
    EXPECT_FALSE(os::exists(path("none"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));
    ASSERT_EQ(::symlink(path("none").c_str(), path("dangling").c_str()), 0);
    EXPECT_FALSE(os::exists(path("dangling")));
    EXPECT_FALSE(os::exists(static_cast<const char*>(nullptr)));

    ASSERT_TRUE(os::mkdir(path("d"), 0700, ec)) << ec.message();
    EXPECT_FALSE(os::mkdir(path("d"), 0700, ec));
    EXPECT_EQ(ec, std::error_code(EEXIST, std::generic_category()));
    EXPECT_FALSE(os::mkdir(static_cast<const char*>(nullptr), 0700));
    EXPECT_FALSE(os::rename(path("a"), path("c"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    EXPECT_FALSE(os::remove(path("b"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    EXPECT_FALSE(os::set_mode(path("none"), 0600));
}

TEST_F(OsFiles, SetModeChangesFileButRefusesSymbolicLink) {
    touch(path("f"));
    std::error_code ec;
    ASSERT_TRUE(os::set_mode(path("f"), 0640, ec)) << ec.message();
    EXPECT_EQ(mode_of(path("f")), 0640u);
    ASSERT_EQ(::symlink(path("f").c_str(), path("link").c_str()), 0);
    EXPECT_FALSE(os::set_mode(path("link"), 0666, ec));
    EXPECT_TRUE(ec == std::errc::operation_not_supported ||
                ec == std::errc::too_many_symbolic_link_levels)
        << ec.message();
    EXPECT_EQ(mode_of(path("f")), 0640u);
}

TEST_F(OsFiles, SetOwnerGivesFileToUserAndNeverFollowsLinks) {
    const auto [uid, gid] = os::get_user_id("daemon");
    if (::geteuid() != 0 || uid == 0) {
        ZT_SKIP_UNLESS_REQUIRED("changing owners needs root and a 'daemon' account");
    }
    touch(path("f"));
    std::error_code ec;
    ASSERT_TRUE(os::set_owner(path("f"), "daemon", ec)) << ec.message();
    EXPECT_EQ(stat_of(path("f")).st_uid, uid);
    EXPECT_EQ(stat_of(path("f")).st_gid, gid);

    touch(path("victim"));
    ASSERT_EQ(::symlink(path("victim").c_str(), path("link").c_str()), 0);
    ASSERT_TRUE(os::set_owner(path("link"), "daemon", ec));
    EXPECT_EQ(stat_of(path("victim")).st_uid, 0u);
    EXPECT_EQ(stat_of(path("link")).st_uid, uid);
    // An unknown account is an error, never a fallback to root, and the file stays as it was.
    for (const std::string& unknown :
         {std::string("zt-no-such-user-4711"), std::string("daemon\0x", 8)}) {
        EXPECT_FALSE(os::set_owner(path("f"), unknown, ec));
        EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
        EXPECT_EQ(stat_of(path("f")).st_uid, uid);
        EXPECT_EQ(stat_of(path("f")).st_gid, gid);
    }
}

TEST(OsAccounts, KnownAndUnknownNames) {
    const std::string root_and_more("root\0x", 6);  // the C look-up alone would find root
    for (const std::string& name :
         {std::string("root"), std::string("zt-no-such-user-4711"), std::string(), root_and_more}) {
        EXPECT_EQ(os::get_user_id(name), (std::pair<unsigned int, unsigned int>{0, 0})) << name;
    }
    std::error_code ec;
    uid_t uid = 7;
    gid_t gid = 7;
    EXPECT_TRUE(os::find_user_id("root", uid, gid, ec));
    EXPECT_EQ(std::pair(uid, gid), std::pair(uid_t{0}, gid_t{0}));
    for (const std::string& unknown : {std::string("zt-no-such-user-4711"), root_and_more}) {
        EXPECT_FALSE(os::find_user_id(unknown, uid, gid, ec));
        EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
        EXPECT_FALSE(os::is_user_exist(unknown, ec));
        EXPECT_FALSE(ec);
    }
    EXPECT_TRUE(os::is_user_exist("root", ec));
    EXPECT_EQ(os::get_user_name(0), "root");
    EXPECT_EQ(os::get_user_name(static_cast<uid_t>(0x7FFFFFF0)), "");
}

}  // namespace
