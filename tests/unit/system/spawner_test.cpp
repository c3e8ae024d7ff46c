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

// A tool that cannot be started gives its errno.
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

}  // namespace
