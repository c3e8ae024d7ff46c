// The checks the handlers apply to names, disk paths and UUID texts from the bus.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "daemon/ztctl_error.h"
#include "system/misc.h"

namespace {

TEST(UserName, OnlyNamesSafeInFilesXmlAndCommandLines) {
    using namespace std::string_literals;
    for (const auto& safe : {"alice"s, "user.name_1"s, "a-b"s, std::string(171, 'n')}) {
        EXPECT_TRUE(misc::is_safe_user_name(safe)) << safe;
    }
    for (const auto& unsafe : {std::string(172, 'n'), ""s, ".hidden"s, "-rf"s, "a/b"s, "a\0b"s,
                               "tab\t"s, "del\x7f"s, "<x"s, "x>"s, "a&b"s, "q\""s, "q'"s}) {
        EXPECT_FALSE(misc::is_safe_user_name(unsafe)) << unsafe;
    }
}

TEST(DiskPaths, EachMissingPieceHasItsError) {
    const std::string dir = ::testing::TempDir() + "disk_paths";
    std::filesystem::create_directories(dir + "/mnt");
    std::filesystem::create_directories(dir + "/file");
    std::error_code ec;
    EXPECT_FALSE(misc::check_disk_paths("", dir + "/mnt", ec));
    EXPECT_EQ(ec, ztctl_error::disk_not_created);
    EXPECT_FALSE(misc::check_disk_paths(dir + "/none", dir + "/mnt", ec));
    EXPECT_EQ(ec, ztctl_error::disk_not_exist);
    EXPECT_FALSE(misc::check_disk_paths(dir + "/file", dir + "/none", ec));
    EXPECT_EQ(ec, ztctl_error::mount_directory_not_exist);
    EXPECT_TRUE(misc::check_disk_paths(dir + "/file", dir + "/mnt", ec));
    EXPECT_FALSE(ec);

    // A mount directory must be a real directory of root or of the owner.
    std::filesystem::create_directory_symlink(dir + "/mnt", dir + "/link");
    EXPECT_FALSE(misc::check_mount_directory(dir + "/link", ::getuid(), ec));
    EXPECT_EQ(ec, ztctl_error::mount_directory_not_exist);
    EXPECT_TRUE(misc::check_mount_directory(dir + "/mnt", ::getuid(), ec));
    if (::getuid() == 0 && ::chown((dir + "/mnt").c_str(), 4242, 4242) == 0) {
        EXPECT_FALSE(misc::check_mount_directory(dir + "/mnt", 4243, ec));
        EXPECT_TRUE(misc::check_mount_directory(dir + "/mnt", 4242, ec));
    }
    std::filesystem::remove_all(dir);
}

TEST(UuidText, MatchesInEitherCaseAndNeverWhenUnparsable) {
    Uuid uuid;
    ASSERT_TRUE(uuid.parse("0f8fad5b-d9cb-469f-a165-70867728950e"));
    EXPECT_TRUE(misc::is_uuid_equal(uuid, "0F8FAD5B-D9CB-469F-A165-70867728950E"));
    EXPECT_FALSE(misc::is_uuid_equal(uuid, "0f8fad5b-d9cb-469f-a165-70867728950f"));
    EXPECT_FALSE(misc::is_uuid_equal(uuid, "not a uuid"));
    EXPECT_FALSE(misc::is_uuid_equal(Uuid(), ""));
}

}  // namespace
