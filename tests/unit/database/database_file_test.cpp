// Whole-file replacement and backup copies of the database file.
#include "database/database_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "service_fixture.h"

namespace {

using testing_db::bytes;

bytes read_back(const std::string& path) {
    bytes data{0xEE};
    std::error_code ec;
    EXPECT_TRUE(db::file::read(path, data, ec)) << path << ": " << ec.message();
    return data;
}

TEST(DatabaseFile, ReplaceAndBackupsLeaveCompleteFilesAndNoTemporary) {
    testing_db::temp_dir dir;
    const std::string path = dir.file("database.bin");
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes{1, 2, 3}, ec));
    ASSERT_TRUE(db::file::keep_copy(path, path + ".back", ec));
    ASSERT_TRUE(db::file::keep_copy(path, path + ".back", ec));  // twice without a save
    ASSERT_TRUE(db::file::replace(path, bytes(5000, 9), ec));
    EXPECT_EQ(read_back(path), bytes(5000, 9));
    EXPECT_EQ(read_back(path + ".back"), (bytes{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
    EXPECT_FALSE(std::filesystem::exists(path + ".back.new"));
}

TEST(DatabaseFile, BackupOnAnotherFileSystemFallsBackToACopy) {
    testing_db::temp_dir dir;
    const std::string other = "/dev/shm";
    const auto device = [](const std::string& p) {
        struct stat info {};
        return ::stat(p.c_str(), &info) == 0 ? info.st_dev : 0;
    };
    if (!std::filesystem::is_directory(other) || device(other) == device(dir.path())) {
        GTEST_SKIP() << "needs /dev/shm on a file system other than " << dir.path();
    }
    const std::string path = dir.file("database.bin");
    const std::string backup = other + "/ztdb-backup-" + std::to_string(::getpid());
    std::error_code ec;
    ASSERT_TRUE(db::file::replace(path, bytes(100, 7), ec));
    // A hard link cannot cross file systems: the backup is written as a full copy.
    EXPECT_TRUE(db::file::keep_copy(path, backup, ec)) << ec.message();
    EXPECT_EQ(read_back(backup), bytes(100, 7));
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
