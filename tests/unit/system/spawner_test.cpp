#include "system/spawner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "system/fio.h"
#include "system/mkfs.h"
#include "temp_dir.h"
#include "testing/required_environment.h"

namespace {

using kind = Spawner::SignalType;

TEST(SpawnerStatus, DecodesEveryWayAChildEnds) {
    const std::tuple<int, kind, int> cases[] = {
        {0x0000, kind::exited, 0},   {0x0300, kind::exited, 3},    {0xFF00, kind::exited, 255},
        {0x0009, kind::signaled, 9}, {0x008B, kind::signaled, 11},  // with the core-dump bit
        {0x137F, kind::stopped, 19}, {0xFFFF, kind::continued, 0}, {0x00FF, kind::unknown, -1},
    };
    for (const auto& [raw, expected_kind, expected_number] : cases) {
        const auto [how, number] = Spawner::decode_status(raw);
        EXPECT_EQ(how, expected_kind) << std::hex << raw;
        EXPECT_EQ(number, expected_number) << std::hex << raw;
    }
}

TEST(SpawnerRun, ReportsHowTheChildEnded) {
    const std::pair<const char*, std::pair<kind, int>> cases[] = {
        {"kill -9 $$", {kind::signaled, 9}},
        {"exit 3", {kind::exited, 3}},
    };
    for (const auto& [script, expected] : cases) {
        Spawner spawner("/bin/sh");
        spawner.argv({"-c", script});
        ASSERT_TRUE(spawner.spawn_sync(nullptr));
        EXPECT_EQ(spawner.get_exit_status(), expected) << script;
    }
}

// Arguments arrive in order (a list may already end in null); both outputs are captured.
TEST(SpawnerRun, PassesArgumentsAndCapturesOutputs) {
    Spawner spawner("/bin/sh");
    spawner.argv({"-c"}).argv(
        {"printf '%s|' \"$0\" \"$@\"; printf 'to err' >&2", "zero", "one", nullptr});
    std::string out, err;
    ASSERT_TRUE(spawner.spawn_sync(out, err, nullptr));
    EXPECT_EQ(out, "zero|one|");
    EXPECT_EQ(err, "to err");
}

// No variable is inherited unless asked for; later lists replace or extend earlier ones.
TEST(SpawnerRun, EnvironmentIsOnlyWhatWasGiven) {
    ASSERT_EQ(::setenv("ZT_A", "inherited", 1), 0);
    Spawner empty("/bin/sh"), given("/bin/sh"), passing("/bin/sh");
    given.envp({"ZT_A=old"}).envp({"ZT_A=1"}).append_env({"ZT_B=2"});
    passing.pass_env();
    const std::pair<Spawner*, const char*> cases[] = {
        {&empty, "unset,unset"}, {&given, "1,2"}, {&passing, "inherited,unset"}};
    for (const auto& [spawner, expected] : cases) {
        std::string out;
        spawner->argv({"-c", "printf '%s,%s' \"${ZT_A-unset}\" \"${ZT_B-unset}\""});
        ASSERT_TRUE(spawner->spawn_sync(out, nullptr));
        EXPECT_EQ(out, expected);
    }
    ::unsetenv("ZT_A");
}

TEST(SpawnerRun, MissingProgramFailsWithGError) {
    Spawner spawner("/nonexistent/zt-program");
    GError* error = nullptr;
    EXPECT_FALSE(spawner.spawn_sync(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, G_SPAWN_ERROR);
    EXPECT_EQ(error->code, G_SPAWN_ERROR_NOENT);
    g_clear_error(&error);
}

using SpawnerAsync = TempDir;

TEST_F(SpawnerAsync, StartsWithoutWaiting) {
    const std::string marker = path("marker");
    Spawner spawner("/bin/sh");
    spawner.argv({"-c", "echo done > \"$0\"", marker.c_str()});
    ASSERT_TRUE(spawner.spawn_async(nullptr));
    std::error_code ec;
    for (int tries = 0; fio::read(marker, ec) != "done\n" && tries < 1000; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(fio::read(marker, ec), "done\n");
}

using Mkfs = TempDir;

TEST_F(Mkfs, MissingToolFailsWithItsErrno) {
    std::error_code ec;
    EXPECT_FALSE(sys::mkfs(path("image"), "zt-no-such-fs", ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
}

// Writes an executable shell script standing in for a formatting tool.
std::string fake_tool(const std::string& file, const std::string& body) {
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    ::chmod(file.c_str(), 0700);
    return file;
}

TEST_F(Mkfs, ToolGetsDeviceThenQuietFlag) {
    const std::string args = path("args");
    const auto tool = fake_tool(path("tool"), "printf '%s|' \"$@\" > " + args);
    std::error_code ec;
    ASSERT_TRUE(sys::run_mkfs(tool, "/dev/zt-device", ec)) << ec.message();
    EXPECT_EQ(fio::read(args, ec), "/dev/zt-device|-q|");
}

// A tool that fails gives its exit code; one that is killed gives ECANCELED.
TEST_F(Mkfs, FailingToolIsAnError) {
    const std::pair<const char*, int> cases[] = {{"exit 1", 1}, {"kill -9 $$", ECANCELED}};
    for (const auto& [body, expected] : cases) {
        const auto tool = fake_tool(path("tool"), body);
        std::error_code ec;
        EXPECT_FALSE(sys::run_mkfs(tool, path("image"), ec));
        EXPECT_EQ(ec, std::error_code(expected, std::generic_category())) << body;
    }
}

TEST_F(Mkfs, FormatsImageWithExt4) {
    if (::geteuid() != 0) {
        ZT_SKIP_UNLESS_REQUIRED("formatting through /sbin/mkfs.ext4 is done as root");
    }
    if (::access("/sbin/mkfs.ext4", X_OK) != 0) {
        ZT_SKIP_UNLESS_REQUIRED("/sbin/mkfs.ext4 is not installed");
    }
    const std::string image = path("image");
    std::error_code ec;
    ASSERT_TRUE(fio::write(image, std::string(8 << 20, '\0'), ec));
    ASSERT_TRUE(sys::mkfs(image, "ext4", ec)) << ec.message();
    EXPECT_FALSE(ec);
    // The ext2/3/4 superblock starts at 1024; its magic 0xEF53 (little-endian) 56 bytes in.
    EXPECT_EQ(fio::read(image, ec).substr(1024 + 56, 2), "\x53\xEF");
}

}  // namespace
