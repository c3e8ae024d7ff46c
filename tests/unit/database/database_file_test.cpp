// Backup copies of the database file across file systems (same-file-system backups are
// exercised through the store).
#include "database/database_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "service_fixture.h"

namespace {

using testing_db::bytes;

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
    // A hard link cannot cross file systems: the backup is staged as a full copy, and the
    // next replace puts it in place beside the new file.
    EXPECT_TRUE(db::file::stage_copy(path, backup, ec)) << ec.message();
    ASSERT_TRUE(db::file::replace(path, bytes(50, 8), ec, backup)) << ec.message();
    bytes data;
    EXPECT_TRUE(db::file::read(backup, data, ec)) << ec.message();
    EXPECT_EQ(data, bytes(100, 7));
    EXPECT_TRUE(db::file::read(path, data, ec)) << ec.message();
    EXPECT_EQ(data, bytes(50, 8));
    EXPECT_FALSE(std::filesystem::exists(backup + ".new"));
    ::unlink(backup.c_str());
}

}  // namespace
