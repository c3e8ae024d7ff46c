#include "system/fio.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "system/gfio.h"
#include "temp_dir.h"

namespace {

using bytes = std::vector<unsigned char>;

std::error_code generic(int value) {
    return {value, std::generic_category()};
}

// Sets the process umask for one scope.
struct scoped_umask {
    explicit scoped_umask(mode_t mask) : old(::umask(mask)) {}
    ~scoped_umask() { ::umask(old); }
    mode_t old;
};

using FioFiles = TempDir;

// A new version replaces every byte of a longer previous one and keeps its mode and owner.
TEST_F(FioFiles, NewFilesArePrivateReplacedFilesKeepModeOwnerAndEveryNewByte) {
    scoped_umask daemon_umask(0);
    std::error_code ec;
    ASSERT_TRUE(fio::write(path("new"), std::string("a much longer first content"), ec));
    EXPECT_EQ(mode_of(path("new")), 0600u);
    ASSERT_EQ(::chmod(path("new").c_str(), 0644), 0);
    // Root may hand the file to another account; the new version must keep it there.
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? 1 : ::geteuid();
    const gid_t group = root ? 1 : ::getegid();
    ASSERT_EQ(::chown(path("new").c_str(), owner, group), 0);
    const bytes data = {0x00, 0xFF, '\n', '\r', 0x00, 0x7F};
    ASSERT_TRUE(fio::write(path("new"), data, ec)) << ec.message();
    EXPECT_EQ(mode_of(path("new")), 0644u);
    EXPECT_EQ(std::pair(stat_of(path("new")).st_uid, stat_of(path("new")).st_gid),
              std::pair(owner, group));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 1);
    bytes back = {9, 9, 9};
    ASSERT_TRUE(fio::read(path("new"), back, ec));
    EXPECT_EQ(back, data);
    EXPECT_EQ(fio::read(path("new"), ec), std::string("\0\xff\n\r\0\x7f", 6));
}

// Whatever stops a write, the file keeps its previous content and no temporary file stays.
TEST_F(FioFiles, FailedWriteLeavesThePreviousFile) {
    std::ofstream(path("conf")) << "previous";
    ASSERT_EQ(::symlink(path("conf").c_str(), path("link").c_str()), 0);
    ASSERT_EQ(::mkdir(path("dir").c_str(), 0700), 0);
    // Writes past this size fail half-way with EFBIG.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    struct row {
        std::string target;
        std::size_t size;
        int expected;
    };
    const row rows[] = {
        {path("conf"), 1 << 16, EFBIG},
        {path("link"), 3, ELOOP},  // a link is not followed
        {path("dir"), 3, EISDIR},
        {"/dev/full", 3, EINVAL},  // a device is not replaced by a file
    };
    for (const auto& r : rows) {
        std::error_code ec;
        EXPECT_FALSE(fio::write(r.target, std::string(r.size, 'x'), ec)) << r.target;
        EXPECT_EQ(ec, generic(r.expected)) << r.target << ": " << ec.message();
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::error_code ec;
    EXPECT_EQ(fio::read(path("conf"), ec), "previous");
    EXPECT_TRUE(S_ISLNK(stat_of(path("link")).st_mode));
    EXPECT_TRUE(S_ISCHR(stat_of("/dev/full").st_mode));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir), {}), 3);
}

TEST_F(FioFiles, FailuresGiveErrnoInGenericCategory) {
    std::error_code ec;
    EXPECT_EQ(fio::read(path("missing"), ec), "");
    EXPECT_EQ(ec, generic(ENOENT));
    bytes data = {1, 2};
    EXPECT_FALSE(fio::read(path("missing"), data, ec));
    EXPECT_EQ(ec, generic(ENOENT));
    EXPECT_TRUE(data.empty());
    // A directory opens for reading but is no file.
    EXPECT_EQ(fio::read(m_dir, ec), "");
    EXPECT_EQ(ec, generic(EISDIR));

    EXPECT_FALSE(fio::write(path("no/such/dir"), std::string("x"), ec));
    EXPECT_EQ(ec, generic(ENOENT));
}

using GfioFiles = TempDir;

TEST_F(GfioFiles, WriteFileReplacesContentWithMode0644AndFailuresGiveErrno) {
    for (const mode_t mask : {mode_t{0}, mode_t{077}}) {
        scoped_umask umask_for_test(mask);
        GError* error = nullptr;
        const std::string file = path("policy.conf");
        ASSERT_TRUE(fio::write_file(file, "first version, longer", -1, &error));
        ASSERT_TRUE(fio::write_file(file, std::string("second"), &error));
        EXPECT_EQ(error, nullptr);
        EXPECT_EQ(fio::read_file(file, &error), "second");
        EXPECT_EQ(mode_of(file), 0644u) << "umask " << mask;
        ::unlink(file.c_str());
    }
    std::error_code ec;
    EXPECT_FALSE(fio::write_file(path("no/such/dir"), std::string("x"), ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::system_category()));
    GError* error = nullptr;
    EXPECT_EQ(fio::read_file(path("missing"), &error), "");
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, G_FILE_ERROR);
    EXPECT_EQ(error->code, G_FILE_ERROR_NOENT);
    g_clear_error(&error);
}

}  // namespace
