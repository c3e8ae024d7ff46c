#include "system/fio.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "system/gfio.h"
#include "temp_dir.h"

namespace {

using bytes = std::vector<unsigned char>;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

mode_t mode_of(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

// Sets the process umask for one scope.
class scoped_umask {
  public:
    explicit scoped_umask(mode_t mask) : m_old(::umask(mask)) {}
    ~scoped_umask() { ::umask(m_old); }

  private:
    mode_t m_old;
};

using FioFiles = TempDir;

TEST_F(FioFiles, WriteThenReadBinaryKeepsEveryByte) {
    const bytes data = {0x00, 0xFF, '\n', '\r', 0x00, 0x7F};
    std::error_code ec;
    ASSERT_TRUE(fio::write(path("b"), data, ec)) << ec.message();
    bytes back = {9, 9, 9};
    ASSERT_TRUE(fio::read(path("b"), back, ec));
    EXPECT_EQ(back, data);
    EXPECT_FALSE(ec);
}

TEST_F(FioFiles, WriteTruncatesLongerContent) {
    std::error_code ec;
    ASSERT_TRUE(fio::write(path("t"), std::string("a much longer first content"), ec));
    ASSERT_TRUE(fio::write(path("t"), std::string("short"), ec));
    EXPECT_EQ(slurp(path("t")), "short");
    EXPECT_EQ(fio::read(path("t"), ec), "short");
    ASSERT_TRUE(fio::write(path("t"), bytes{}, ec));
    EXPECT_EQ(fio::read(path("t"), ec), "");
    EXPECT_FALSE(ec);
}

TEST_F(FioFiles, NewFilesArePrivateExistingFilesKeepTheirMode) {
    scoped_umask daemon_umask(0);
    std::error_code ec;
    ASSERT_TRUE(fio::write(path("new"), bytes{1, 2, 3}, ec));
    EXPECT_EQ(mode_of(path("new")), 0600u);

    std::ofstream(path("shared")) << "old";
    ASSERT_EQ(::chmod(path("shared").c_str(), 0644), 0);
    ASSERT_TRUE(fio::write(path("shared"), std::string("new"), ec));
    EXPECT_EQ(mode_of(path("shared")), 0644u);
}

TEST_F(FioFiles, TextReadKeepsEmbeddedZeros) {
    const std::string text("a\0b", 3);
    std::error_code ec;
    ASSERT_TRUE(fio::write(path("z"), text, ec));
    EXPECT_EQ(fio::read(path("z"), ec), text);
}

TEST_F(FioFiles, UnopenablePathGivesErrnoInGenericCategory) {
    std::error_code ec;
    EXPECT_EQ(fio::read(path("missing"), ec), "");
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));

    bytes data = {1, 2};
    EXPECT_FALSE(fio::read(path("missing"), data, ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    EXPECT_TRUE(data.empty());

    EXPECT_FALSE(fio::write(path("no/such/dir"), std::string("x"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    EXPECT_FALSE(fio::write(m_dir, bytes{1}, ec));
    EXPECT_EQ(ec, std::error_code(EISDIR, std::generic_category()));
}

TEST_F(FioFiles, ReadingADirectoryFails) {
    std::error_code ec;
    EXPECT_EQ(fio::read(m_dir, ec), "");
    EXPECT_EQ(ec, std::error_code(EISDIR, std::generic_category()));
}

TEST(FioDevices, FullDiskIsReportedNotSwallowed) {
    std::error_code ec;
    EXPECT_FALSE(fio::write("/dev/full", std::string("data"), ec));
    EXPECT_EQ(ec, std::error_code(ENOSPC, std::generic_category()));
}

TEST(FioDevices, FilesWithoutSizeAreReadToTheEnd) {
    std::error_code ec;
    const std::string status = fio::read("/proc/self/status", ec);
    EXPECT_FALSE(ec);
    EXPECT_NE(status.find("Pid:"), std::string::npos);
}

using GfioFiles = TempDir;

TEST_F(GfioFiles, WriteFileReplacesContentWithMode0644WhateverTheUmask) {
    for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
        scoped_umask umask_for_test(mask);
        GError* error = nullptr;
        const std::string file = path("policy.conf");
        ASSERT_TRUE(fio::write_file(file, "first version, longer", -1, &error));
        ASSERT_TRUE(fio::write_file(file, std::string("second"), &error));
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(slurp(file), "second");
        EXPECT_EQ(mode_of(file), 0644u) << "umask " << mask;
        ::unlink(file.c_str());
    }
}

TEST_F(GfioFiles, WriteFileHonoursLength) {
    std::error_code ec;
    ASSERT_TRUE(fio::write_file(path("n"), "abcdef", 3, ec));
    EXPECT_EQ(slurp(path("n")), "abc");
}

TEST_F(GfioFiles, WriteFileFailureGivesErrnoInSystemCategory) {
    std::error_code ec;
    EXPECT_FALSE(fio::write_file(path("no/such/dir"), std::string("x"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));

    GError* error = nullptr;
    EXPECT_FALSE(fio::write_file(path("no/such/dir"), "x", -1, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    EXPECT_EQ(error->code, G_FILE_ERROR_NOENT);
    g_clear_error(&error);
}

TEST_F(GfioFiles, ReadFileReturnsWholeContent) {
    const std::string text("x\0y\n", 4);
    std::ofstream(path("r"), std::ios::binary) << text;
    GError* error = nullptr;
    EXPECT_EQ(fio::read_file(path("r"), &error), text);
    EXPECT_EQ(error, nullptr);

    EXPECT_EQ(fio::read_file(path("missing"), &error), "");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code, G_FILE_ERROR_NOENT);
    g_clear_error(&error);
}

}  // namespace
