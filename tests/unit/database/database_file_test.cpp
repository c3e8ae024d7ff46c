// Whole-file replacement and backup copies of the database file.
#include "database/database_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "service_fixture.h"

namespace {

using testing_db::bytes;

dev_t device_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_dev : 0;
}

TEST(DatabaseFile, ReplaceWritesCompleteFileAndLeavesNoTemporary) {
    testing_db::temp_dir dir;
    const std::string path = dir.file("database.bin");
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes{1, 2, 3}, ec));
    ASSERT_TRUE(db::file::replace(path, bytes(5000, 9), ec));
    bytes back;
    ASSERT_TRUE(db::file::read(path, back, ec));
    EXPECT_EQ(back, bytes(5000, 9));
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST(DatabaseFile, BackupIsASeparateCopyThatSurvivesTheNextReplace) {
    testing_db::temp_dir dir;
    const std::string path = dir.file("database.bin");
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes{1, 2, 3}, ec));
    ASSERT_TRUE(db::file::keep_copy(path, path + ".back", ec));
    ASSERT_TRUE(db::file::replace(path, bytes{4, 5}, ec));
    bytes backup;
    ASSERT_TRUE(db::file::read(path + ".back", backup, ec));
    EXPECT_EQ(backup, (bytes{1, 2, 3}));
}

TEST(DatabaseFile, TwoBackupsWithoutSaveLeaveNoTemporary) {
    testing_db::temp_dir dir;
    const std::string path = dir.file("database.bin");
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes{1, 2, 3}, ec));
    ASSERT_TRUE(db::file::keep_copy(path, path + ".back", ec));
    ASSERT_TRUE(db::file::keep_copy(path, path + ".back", ec));
    EXPECT_FALSE(std::filesystem::exists(path + ".back.new"));
    bytes backup;
    ASSERT_TRUE(db::file::read(path + ".back", backup, ec));
    EXPECT_EQ(backup, (bytes{1, 2, 3}));
}

TEST(DatabaseFile, BackupOnAnotherFileSystemFallsBackToACopy) {
    testing_db::temp_dir dir;
    const std::string other = "/dev/shm";
    if (!std::filesystem::is_directory(other) || device_of(other) == device_of(dir.path())) {
        GTEST_SKIP() << "needs /dev/shm on a file system other than " << dir.path();
    }
    const std::string path = dir.file("database.bin");
    const std::string backup = other + "/ztdb-backup-" + std::to_string(::getpid());
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes(100, 7), ec));
    // A hard link cannot cross file systems: the backup is written as a full copy.
    EXPECT_TRUE(db::file::keep_copy(path, backup, ec)) << ec.message();
    bytes copy;
    EXPECT_TRUE(db::file::read(backup, copy, ec));
    EXPECT_EQ(copy, bytes(100, 7));
    ::unlink(backup.c_str());
}

TEST(DatabaseFile, ReadOfMissingFileGivesErrno) {
    bytes data{1};
    std::error_code ec;
    EXPECT_FALSE(db::file::read("/nonexistent/database.bin", data, ec));
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(data.empty());
}

}  // namespace
