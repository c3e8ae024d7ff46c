// The command lines of ztctl's disk commands, the mount table look-up behind a busy unmount's
// list of holders, and how a failure that explains itself is printed.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "client/ztctl/command_line.h"
#include "client/ztctl/mount_table.h"
#include "client/ztctl/output.h"

namespace {

using ztctl::command;
using ztctl::parse_command_line;

constexpr const char* kUuid = "9fc79605-c8f7-4949-9e7a-341c0bba864e";

TEST(ZtctlDiskCommandLine, DiskCommandsParseIntoWhatTheyRun) {
    const struct {
        std::vector<std::string> args;
        command expected;
        std::string name;
        std::string path;
        std::uint64_t size;
        std::string fs;
        std::string uuid;
        bool force;
    } rows[] = {
        {{"disk", "create", "alice", "--path", "/run/a.img", "--size", "64M"},
         command::disk_create,
         "alice",
         "/run/a.img",
         64u << 20,
         "ext4",
         "",
         false},
        {{"disk", "create", "--size", "3g", "--fs", "ext2", "--path", "/d/b.img", "bob"},
         command::disk_create,
         "bob",
         "/d/b.img",
         3ull << 30,
         "ext2",
         "",
         false},
        {{"disk", "create", "bob", "--path", "/d/c", "--size", "4096"},
         command::disk_create,
         "bob",
         "/d/c",
         4096,
         "ext4",
         "",
         false},
        {{"disk", "status"}, command::disk_status, "", "", 0, "ext4", "", false},
        {{"disk", "status", "alice"}, command::disk_status, "alice", "", 0, "ext4", "", false},
        {{"disk", "ready"}, command::disk_ready, "", "", 0, "ext4", "", false},
        {{"disk", "created"}, command::disk_created, "", "", 0, "ext4", "", false},
        {{"disk", "has-uuid", kUuid}, command::disk_has_uuid, "", "", 0, "ext4", kUuid, false},
        {{"mount"}, command::mount, "", "", 0, "ext4", "", false},
        {{"mount", "--uuid", "9FC79605-C8F7-4949-9E7A-341C0BBA864E"},
         command::mount,
         "",
         "",
         0,
         "ext4",
         "9FC79605-C8F7-4949-9E7A-341C0BBA864E",
         false},
        {{"unmount"}, command::unmount, "", "", 0, "ext4", "", false},
        {{"unmount", "--force", "--uuid", kUuid}, command::unmount, "", "", 0, "ext4", kUuid, true},
    };
    for (const auto& row : rows) {
        const auto parsed = parse_command_line(row.args);
        ASSERT_TRUE(parsed.run.has_value()) << row.args[1] << ": " << parsed.err;
        const ztctl::invocation& run = *parsed.run;
        EXPECT_EQ(run.command, row.expected) << row.args[1];
        EXPECT_EQ(run.name, row.name) << row.args[1];
        EXPECT_EQ(run.path, row.path) << row.args[1];
        EXPECT_EQ(run.size, row.size) << row.args[1];
        EXPECT_EQ(run.fs, row.fs) << row.args[1];
        EXPECT_EQ(run.uuid, row.uuid) << row.args[1];
        EXPECT_EQ(run.force, row.force) << row.args[1];
    }
    EXPECT_EQ(ztctl::command_name(command::disk_has_uuid), "disk has-uuid");
    EXPECT_EQ(ztctl::command_name(command::unmount), "unmount");
}

TEST(ZtctlDiskCommandLine, SizesAreBinaryMultiplesThatFitAndAreNotZero) {
    const struct {
        std::string text;
        bool valid;
        std::uint64_t bytes;
    } rows[] = {
        {"1", true, 1},
        {"512", true, 512},
        {"10K", true, 10240},
        {"64M", true, 64u << 20},
        {"64m", true, 64u << 20},
        {"2G", true, 2ull << 30},
        {"1T", true, 1ull << 40},
        {"18446744073709551615", true, UINT64_MAX},
        {"16777215T", true, 16777215ull << 40},
        {"16777216T", false, 0},
        {"18446744073709551616", false, 0},
        {"0", false, 0},
        {"0M", false, 0},
        {"", false, 0},
        {"M", false, 0},
        {"64MB", false, 0},
        {"64P", false, 0},
        {"1.5G", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {" 64M", false, 0},
        {"64M ", false, 0},
        {"0x40", false, 0},
    };
    for (const auto& row : rows) {
        std::uint64_t bytes = 0;
        EXPECT_EQ(ztctl::parse_size(row.text, bytes), row.valid) << row.text;
        if (row.valid) {
            EXPECT_EQ(bytes, row.bytes) << row.text;
        }
        // The command line takes exactly the sizes parse_size takes.
        const auto parsed =
            parse_command_line({"disk", "create", "alice", "--path", "/a.img", "--size", row.text});
        EXPECT_EQ(parsed.run.has_value(), row.valid) << row.text;
        EXPECT_EQ(parsed.status, row.valid ? 0 : 2) << row.text;
    }
}

TEST(ZtctlDiskCommandLine, RefusesBadPathsNamesAndUuidsWithStatusTwo) {
    const auto create = [](const std::string& path, const std::string& fs = "ext4") {
        return std::vector<std::string>{"disk",   "create", "alice", "--path", path,
                                        "--size", "64M",    "--fs",  fs};
    };
    const std::vector<std::vector<std::string>> rows = {
        create("alice.img"),
        create("./alice.img"),
        create("run/alice.img"),
        create("~/alice.img"),
        create(""),
        create("/a.img", ""),
        create("/a.img", "ext4/../../bin/sh"),
        create("/a.img", "-t"),
        create("/a.img", ".hidden"),
        create("/a.img", "ext 4"),
        {"disk", "create", "--path", "/a.img", "--size", "64M"},
        {"disk", "create", "alice", "--size", "64M"},
        {"disk", "create", "alice", "--path", "/a.img"},
        {"disk", "create", "../alice", "--path", "/a.img", "--size", "1M"},
        {"disk", "status", "a/b"},
        {"disk", "status", "alice", "bob"},
        {"disk", "ready", "alice"},
        {"disk", "has-uuid"},
        {"disk", "has-uuid", "not-a-uuid"},
        {"disk", "has-uuid", "9fc79605c8f749499e7a341c0bba864e"},
        {"disk", "has-uuid", std::string(kUuid) + "0"},
        {"disk", "remove"},
        {"disk"},
        {"mount", "--uuid"},
        {"mount", "--uuid", "x"},
        {"mount", "--force"},
        {"unmount", "alice"},
        {"unmount", "--uuid", "9fc79605-c8f7-4949-9e7a-341c0bba864g"},
    };
    for (const auto& args : rows) {
        const auto parsed = parse_command_line(args);
        std::string line;
        for (const auto& arg : args) {
            line += arg + " ";
        }
        EXPECT_FALSE(parsed.run.has_value()) << line;
        EXPECT_EQ(parsed.status, 2) << line;
        EXPECT_EQ(parsed.err.rfind("ztctl: ", 0), 0u) << line << parsed.err;
    }
}

TEST(ZtctlMountTable, FindsTheDeviceSeenOnTheDirectory) {
    const std::string table =
        "tmpfs /zt tmpfs rw 0 0\n"
        "/dev/cryx0 /zt/alice ext4 rw,nosuid,nodev,dirsync 0 0\n"
        "/dev/cryx1 /zt/alice2 ext4 rw 0 0\n"
        "/dev/cryx2 /zt/with\\040space ext4 rw 0 0\n"
        "/dev/cryx3 /zt/bob ext4 rw 0 0\n"
        "/dev/cryx4 /zt/bob ext4 rw 0 0\n"
        "/dev/cryx5 /zt/carol ext4 rw 0 0\n"
        "tmpfs /zt/carol tmpfs rw 0 0\n"
        "/dev/odd\\134name /zt/dave ext4 rw 0 0\n"
        "broken-line\n";
    const struct {
        std::string directory;
        std::string device;
    } rows[] = {
        {"/zt/alice", "/dev/cryx0"},
        {"/zt/alice2", "/dev/cryx1"},
        {"/zt/with space", "/dev/cryx2"},
        {"/zt/with\\040space", ""},
        {"/zt/bob", "/dev/cryx4"},  // stacked: the last mount is the one seen
        {"/zt/carol", ""},          // covered by a file system that is no device
        {"/zt/dave", "/dev/odd\\name"},
        {"/zt/al", ""},
        {"/zt", ""},
        {"/zt/eve", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ztctl::mounted_device(table, row.directory), row.device) << row.directory;
    }
}

TEST(ZtctlOutput, AFailureThatExplainsItselfKeepsItsFieldsAndText) {
    ztctl::result r;
    r.command = "unmount";
    r.status = 1;
    r.error = std::make_error_code(std::errc::device_or_resource_busy);
    r.fields = {{"holders", {{{"pid", 42}, {"how", "cwd"}}}}};
    r.text = "PID  HOW\n42   cwd\n";
    const auto object = ztctl::to_json(r);
    EXPECT_EQ(object["ok"], false);
    EXPECT_EQ(object["error"]["value"], EBUSY);
    EXPECT_EQ(object["holders"][0]["pid"], 42);

    for (const bool json : {false, true}) {
        ztctl::global_options options;
        options.json = json;
        options.quiet = true;  // quiet silences successes, never the reasons of a failure
        std::ostringstream out;
        std::ostringstream err;
        ztctl::print(r, options, out, err);
        const std::string line = ztctl::error_line(r.error) + "\n";
        EXPECT_EQ(err.str(), json ? line : line + r.text);
        EXPECT_EQ(out.str().empty(), !json);
    }
}

}  // namespace
