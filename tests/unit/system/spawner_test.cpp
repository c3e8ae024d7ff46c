#include "system/spawner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "system/mkfs.h"
#include "temp_dir.h"

namespace {

using kind = Spawner::SignalType;

struct status_case {
    int raw;
    kind expected_kind;
    int expected_number;
};

TEST(SpawnerStatus, DecodesEveryWayAChildEnds) {
    const status_case cases[] = {
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

TEST(SpawnerStatus, AgreesWithWaitMacros) {
    for (const int raw : {0x0000, 0x0100, 0x7F00, 0x0006, 0x0086, 0x137F, 0xFFFF}) {
        const auto [how, number] = Spawner::decode_status(raw);
        if (WIFEXITED(raw)) {
            EXPECT_EQ(how, kind::exited);
            EXPECT_EQ(number, WEXITSTATUS(raw));
        } else if (WIFSIGNALED(raw)) {
            EXPECT_EQ(how, kind::signaled);
            EXPECT_EQ(number, WTERMSIG(raw));
        } else if (WIFSTOPPED(raw)) {
            EXPECT_EQ(how, kind::stopped);
            EXPECT_EQ(number, WSTOPSIG(raw));
        } else if (WIFCONTINUED(raw)) {
            EXPECT_EQ(how, kind::continued);
        }
    }
}

TEST(SpawnerRun, ChildKilledBySignal9ReportsSignaled9) {
    Spawner spawner("/bin/sh");
    spawner.argv({"-c", "kill -9 $$"});
    GError* error = nullptr;
    ASSERT_TRUE(spawner.spawn_sync(&error));
    EXPECT_EQ(spawner.get_exit_status(), (std::pair<kind, int>{kind::signaled, 9}));
}

TEST(SpawnerRun, ExitCodeIsDecoded) {
    Spawner spawner("/bin/sh");
    spawner.argv({"-c", "exit 3"});
    ASSERT_TRUE(spawner.spawn_sync(nullptr));
    EXPECT_EQ(spawner.get_exit_status(), (std::pair<kind, int>{kind::exited, 3}));
}

TEST(SpawnerRun, CapturesStandardOutputAndError) {
    Spawner spawner("/bin/sh");
    spawner.argv({"-c", "printf 'to out'; printf 'to err' >&2; exit 0"});
    std::string out;
    std::string err;
    GError* error = nullptr;
    ASSERT_TRUE(spawner.spawn_sync(out, err, &error));
    EXPECT_EQ(out, "to out");
    EXPECT_EQ(err, "to err");
    EXPECT_EQ(spawner.get_exit_status(), (std::pair<kind, int>{kind::exited, 0}));

    std::string only_out;
    Spawner second("/bin/sh");
    second.argv({"-c", "echo line"});
    ASSERT_TRUE(second.spawn_sync(only_out, &error));
    EXPECT_EQ(only_out, "line\n");
}

TEST(SpawnerRun, ArgumentsArriveInOrderAndListsMayAlreadyEndInNull) {
    Spawner spawner("/bin/sh");
    spawner.argv({"-c"}).argv({"printf '%s|' \"$0\" \"$@\"", "zero", "one", nullptr});
    std::string out;
    ASSERT_TRUE(spawner.spawn_sync(out, nullptr));
    EXPECT_EQ(out, "zero|one|");
}

TEST(SpawnerRun, EnvironmentIsOnlyWhatWasGiven) {
    std::string out;
    Spawner empty("/bin/sh");
    empty.argv({"-c", "printf '%s' \"${HOME-unset}\""});
    ASSERT_TRUE(empty.spawn_sync(out, nullptr));
    EXPECT_EQ(out, "unset");

    Spawner given("/bin/sh");
    given.argv({"-c", "printf '%s,%s' \"$ZT_A\" \"$ZT_B\""})
        .envp({"ZT_A=old"})
        .envp({"ZT_A=1"})
        .append_env({"ZT_B=2"});
    ASSERT_TRUE(given.spawn_sync(out, nullptr));
    EXPECT_EQ(out, "1,2");
}

TEST(SpawnerRun, PassEnvHandsOnOwnEnvironment) {
    ASSERT_EQ(::setenv("ZT_SPAWNER_TEST", "inherited", 1), 0);
    Spawner spawner("/bin/sh");
    spawner.argv({"-c", "printf '%s' \"$ZT_SPAWNER_TEST\""}).pass_env();
    std::string out;
    ASSERT_TRUE(spawner.spawn_sync(out, nullptr));
    EXPECT_EQ(out, "inherited");
    ::unsetenv("ZT_SPAWNER_TEST");
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
    GError* error = nullptr;
    ASSERT_TRUE(spawner.spawn_async(&error));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string content;
    while (content != "done\n" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(marker);
        content.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(content, "done\n");
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
    std::ifstream in(args);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "/dev/zt-device|-q|");
}

TEST_F(Mkfs, NonZeroExitIsTheErrorValue) {
    const auto tool = fake_tool(path("tool"), "exit 1");
    std::error_code ec;
    EXPECT_FALSE(sys::run_mkfs(tool, path("image"), ec));
    EXPECT_EQ(ec, std::error_code(1, std::generic_category()));
}

TEST_F(Mkfs, KilledToolIsAFailureWithAnError) {
    const auto tool = fake_tool(path("tool"), "kill -9 $$");
    std::error_code ec;
    EXPECT_FALSE(sys::run_mkfs(tool, path("image"), ec));
    EXPECT_EQ(ec, std::error_code(ECANCELED, std::generic_category()));
}

TEST_F(Mkfs, FormatsImageWithExt4) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "formatting through /sbin/mkfs.ext4 is done as root";
    }
    if (::access("/sbin/mkfs.ext4", X_OK) != 0) {
        GTEST_SKIP() << "/sbin/mkfs.ext4 is not installed";
    }
    const std::string image = path("image");
    {
        std::ofstream out(image, std::ios::binary);
        out.seekp((8 << 20) - 1);
        out.put('\0');
    }
    std::error_code ec;
    ASSERT_TRUE(sys::mkfs(image, "ext4", ec)) << ec.message();
    EXPECT_FALSE(ec);
    // The ext2/3/4 superblock starts at 1024; its magic 0xEF53 sits 56 bytes in.
    std::ifstream in(image, std::ios::binary);
    in.seekg(1024 + 56);
    unsigned char magic[2] = {};
    in.read(reinterpret_cast<char*>(magic), 2);
    EXPECT_EQ(magic[0], 0x53);
    EXPECT_EQ(magic[1], 0xEF);
}

TEST_F(Mkfs, Ext4OnMissingDeviceReportsToolExitCode) {
    if (::access("/sbin/mkfs.ext4", X_OK) != 0) {
        GTEST_SKIP() << "/sbin/mkfs.ext4 is not installed";
    }
    std::error_code ec;
    EXPECT_FALSE(sys::mkfs(path("no/such/device"), "ext4", ec));
    EXPECT_EQ(&ec.category(), &std::generic_category());
    EXPECT_NE(ec.value(), 0);
}

}  // namespace
