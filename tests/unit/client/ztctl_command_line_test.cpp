#include "client/ztctl/command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using ztctl::parse_command_line;

constexpr const char* kUuid = "9fc79605-c8f7-4949-9e7a-341c0bba864e";

// What a command line runs, as one line naming the command and every field that differs from
// its default; for a refused line, its exit status (and the message if it lacks the prefix).
std::string outcome(const std::vector<std::string>& args) {
    const auto parsed = parse_command_line(args);
    if (!parsed.run) {
        return "status " + std::to_string(parsed.status) +
               (parsed.err.starts_with("ztctl: ") ? "" : " without prefix: " + parsed.err);
    }
    const ztctl::invocation& r = *parsed.run;
    std::string out = ztctl::command_name(r.command);
    const auto field = [&](const char* key, const std::string& value, bool shown) {
        if (shown) {
            out += std::string(" ") + key + "=" + value;
        }
    };
    field("name", r.name, !r.name.empty());
    field("keystore", r.keystore_file, !r.keystore_file.empty());
    field("new-password", r.new_password_file, !r.new_password_file.empty());
    field("out", r.out_file, !r.out_file.empty());
    field("path", r.path, !r.path.empty());
    field("size", std::to_string(r.size), r.size != 0);
    field("fs", r.fs, r.fs != "ext4");
    field("uuid", r.uuid, !r.uuid.empty());
    field("force", "1", r.force);
    field("as", r.global.account, !r.global.account.empty());
    field("json", "1", r.global.json);
    return out;
}

TEST(ZtctlCommandLine, CommandsParseIntoWhatTheyRunAndEverythingElseEndsWithStatusTwo) {
    const auto create = [](const std::string& path, const std::string& fs = "ext4") {
        return std::vector<std::string>{"disk",   "create", "alice", "--path", path,
                                        "--size", "64M",    "--fs",  fs};
    };
    const struct {
        std::vector<std::string> args;
        std::string runs;
    } rows[] = {
        {{"status"}, "status"},
        {{"keystore", "create", "--out", "a.ks"}, "keystore create out=a.ks"},
        {{"keystore", "create", "--new-password-file", "p", "--out", "a.ks"},
         "keystore create new-password=p out=a.ks"},
        {{"user", "add", "alice", "--keystore", "/k"}, "user add name=alice keystore=/k"},
        {{"user", "add", "--new-password-file", "p", "bob"}, "user add name=bob new-password=p"},
        {{"user", "remove", "bob"}, "user remove name=bob"},
        {{"user", "show", "admin"}, "user show name=admin"},
        {{"user", "registered", "j.doe-2"}, "user registered name=j.doe-2"},
        {{"admin", "list"}, "admin list"},
        // Global options stand anywhere.
        {{"user", "list", "--as", "admin", "--json"}, "user list as=admin json=1"},
        {{"disk", "create", "--size", "3g", "--fs", "ext2", "--path", "/d/b.img", "bob"},
         "disk create name=bob path=/d/b.img size=3221225472 fs=ext2"},
        {{"disk", "status"}, "disk status"},
        {{"disk", "status", "alice"}, "disk status name=alice"},
        {{"disk", "ready"}, "disk ready"},
        {{"disk", "created"}, "disk created"},
        {{"disk", "has-uuid", kUuid}, "disk has-uuid uuid=" + std::string(kUuid)},
        {{"mount"}, "mount"},
        {{"mount", "--uuid", "9FC79605-C8F7-4949-9E7A-341C0BBA864E"},
         "mount uuid=9FC79605-C8F7-4949-9E7A-341C0BBA864E"},
        {{"unmount"}, "unmount"},
        {{"unmount", "--force", "--uuid", kUuid},
         "unmount uuid=" + std::string(kUuid) + " force=1"},

        {{"user"}, "status 2"},
        {{"user", "add"}, "status 2"},
        {{"user", "add", "a", "b"}, "status 2"},
        {{"user", "add", "alice", "--keystore", "k", "--new-password-file", "p"}, "status 2"},
        {{"user", "add", "alice", "--out", "f"}, "status 2"},
        {{"user", "list", "extra"}, "status 2"},
        {{"user", "delete", "alice"}, "status 2"},
        {{"user", "registered"}, "status 2"},
        {{"keystore", "create"}, "status 2"},
        {{"keystore", "create", "--out"}, "status 2"},
        {{"admin"}, "status 2"},
        {{"admin", "add", "x"}, "status 2"},
        {{"disk"}, "status 2"},
        {{"--as", "a/b", "status"}, "status 2"},
        {{"help", "user", "rename"}, "status 2"},
        // A disk's path is absolute; its file system type is a plain word.
        {create("alice.img"), "status 2"},
        {create("./alice.img"), "status 2"},
        {create("run/alice.img"), "status 2"},
        {create("~/alice.img"), "status 2"},
        {create(""), "status 2"},
        {create("/a.img", ""), "status 2"},
        {create("/a.img", "ext4/../../bin/sh"), "status 2"},
        {create("/a.img", "-t"), "status 2"},
        {create("/a.img", ".hidden"), "status 2"},
        {create("/a.img", "ext 4"), "status 2"},
        {{"disk", "create", "--path", "/a.img", "--size", "64M"}, "status 2"},
        {{"disk", "create", "alice", "--size", "64M"}, "status 2"},
        {{"disk", "create", "alice", "--path", "/a.img"}, "status 2"},
        {{"disk", "create", "../alice", "--path", "/a.img", "--size", "1M"}, "status 2"},
        {{"disk", "status", "a/b"}, "status 2"},
        {{"disk", "status", "alice", "bob"}, "status 2"},
        {{"disk", "ready", "alice"}, "status 2"},
        {{"disk", "has-uuid"}, "status 2"},
        {{"disk", "has-uuid", "9fc79605c8f749499e7a341c0bba864e"}, "status 2"},
        {{"disk", "has-uuid", std::string(kUuid) + "0"}, "status 2"},
        {{"disk", "remove"}, "status 2"},
        {{"mount", "--uuid"}, "status 2"},
        {{"mount", "--uuid", "x"}, "status 2"},
        {{"mount", "--force"}, "status 2"},
        {{"unmount", "alice"}, "status 2"},
        {{"unmount", "--uuid", "9fc79605-c8f7-4949-9e7a-341c0bba864g"}, "status 2"},
    };
    for (const auto& row : rows) {
        std::string line;
        for (const auto& arg : row.args) {
            line += arg + " ";
        }
        EXPECT_EQ(outcome(row.args), row.runs) << line;
    }
}

TEST(ZtctlCommandLine, NamesThatCouldEscapeTheirPlaceAreNoAccountNames) {
    std::vector<std::pair<std::string, bool>> rows = {{"alice", true},
                                                      {"j.doe_2-x", true},
                                                      {"\xc3\xa9lise", true},
                                                      {std::string(256, 'a'), true}};
    for (const std::string refused :
         {"", ".", "..", "../etc", "a/b", "a:b", "a b", "-rf", "tab\there", "bell\a", "del\x7f"}) {
        rows.emplace_back(refused, false);
    }
    rows.emplace_back(std::string(257, 'a'), false);
    for (const auto& [name, valid] : rows) {
        EXPECT_EQ(ztctl::valid_account_name(name), valid) << name;
        // The command line refuses them where a NAME is taken.
        EXPECT_EQ(parse_command_line({"user", "remove", name}).run.has_value(), valid) << name;
    }
}

// 0 stands for a refused size: no size is ever 0.
TEST(ZtctlCommandLine, SizesAreBinaryMultiplesThatFitAndAreNotZero) {
    std::vector<std::pair<std::string, std::uint64_t>> rows = {{"1", 1},
                                                               {"10K", 10240},
                                                               {"64M", 64u << 20},
                                                               {"64m", 64u << 20},
                                                               {"2G", 2ull << 30},
                                                               {"1T", 1ull << 40},
                                                               {"18446744073709551615", UINT64_MAX},
                                                               {"16777215T", 16777215ull << 40}};
    for (const char* refused : {"16777216T", "18446744073709551616", "0", "0M", "", "M", "64MB",
                                "64P", "1.5G", "-1", "+1", " 64M", "64M ", "0x40"}) {
        rows.emplace_back(refused, 0);
    }
    for (const auto& [text, size] : rows) {
        std::uint64_t bytes = 0;
        EXPECT_EQ(ztctl::parse_size(text, bytes), size != 0) << text;
        EXPECT_EQ(bytes, size) << text;
        // The command line takes exactly the sizes parse_size takes.
        EXPECT_EQ(outcome({"disk", "create", "alice", "--path", "/a.img", "--size", text}),
                  size != 0 ? "disk create name=alice path=/a.img size=" + std::to_string(size)
                            : "status 2")
            << text;
    }
}

TEST(ZtctlCommandLine, HelpNamesTheAccountCommands) {
    const auto group = parse_command_line({"help", "user"});
    EXPECT_EQ(group.status, 0);
    for (const char* sub : {"add", "remove", "list", "show", "registered"}) {
        EXPECT_NE(group.out.find(sub), std::string::npos) << sub;
    }
    const auto add = parse_command_line({"help", "user", "add"});
    EXPECT_NE(add.out.find("--keystore"), std::string::npos) << add.out;
    EXPECT_NE(add.out.find("--new-password-file"), std::string::npos) << add.out;
}

}  // namespace
