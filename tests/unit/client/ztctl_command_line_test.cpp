#include "client/ztctl/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ztctl::command;
using ztctl::parse_command_line;

TEST(ZtctlCommandLine, AccountCommandsParseIntoWhatTheyRun) {
    const struct {
        std::vector<std::string> args;
        command expected;
        std::string name;
        std::string keystore;
        std::string new_password_file;
        std::string out;
    } rows[] = {
        {{"status"}, command::status, "", "", "", ""},
        {{"keystore", "create", "--out", "a.ks"}, command::keystore_create, "", "", "", "a.ks"},
        {{"keystore", "create", "--new-password-file", "p", "--out", "a.ks"},
         command::keystore_create,
         "",
         "",
         "p",
         "a.ks"},
        {{"user", "add", "alice"}, command::user_add, "alice", "", "", ""},
        {{"user", "add", "alice", "--keystore", "/k"}, command::user_add, "alice", "/k", "", ""},
        {{"user", "add", "--new-password-file", "p", "bob"}, command::user_add, "bob", "", "p", ""},
        {{"user", "remove", "bob"}, command::user_remove, "bob", "", "", ""},
        {{"user", "list"}, command::user_list, "", "", "", ""},
        {{"user", "show", "admin"}, command::user_show, "admin", "", "", ""},
        {{"user", "registered", "j.doe-2"}, command::user_registered, "j.doe-2", "", "", ""},
        {{"admin", "list"}, command::admin_list, "", "", "", ""},
        // Global options stand anywhere.
        {{"user", "list", "--as", "admin", "--json"}, command::user_list, "", "", "", ""},
    };
    for (const auto& row : rows) {
        const auto parsed = parse_command_line(row.args);
        ASSERT_TRUE(parsed.run.has_value()) << row.args.front() << ": " << parsed.err;
        EXPECT_EQ(parsed.run->command, row.expected) << parsed.err;
        EXPECT_EQ(parsed.run->name, row.name);
        EXPECT_EQ(parsed.run->keystore_file, row.keystore);
        EXPECT_EQ(parsed.run->new_password_file, row.new_password_file);
        EXPECT_EQ(parsed.run->out_file, row.out);
    }
    const auto global = parse_command_line({"user", "list", "--as", "admin", "--json"});
    EXPECT_EQ(global.run->global.account, "admin");
    EXPECT_TRUE(global.run->global.json);
    EXPECT_EQ(ztctl::command_name(command::user_registered), "user registered");
}

TEST(ZtctlCommandLine, RefusesWhatTheCommandsDoNotAllowWithStatusTwo) {
    const std::vector<std::vector<std::string>> rows = {
        {"user"},
        {"user", "add"},
        {"user", "add", "a", "b"},
        {"user", "add", "alice", "--keystore", "k", "--new-password-file", "p"},
        {"user", "add", "alice", "--out", "f"},
        {"user", "list", "extra"},
        {"user", "delete", "alice"},
        {"user", "registered"},
        {"keystore", "create"},
        {"keystore", "create", "--out"},
        {"admin"},
        {"admin", "add", "x"},
        {"--as", "a/b", "status"},
        {"help", "user", "rename"},
    };
    for (const auto& args : rows) {
        const auto parsed = parse_command_line(args);
        EXPECT_FALSE(parsed.run.has_value()) << args.back();
        EXPECT_EQ(parsed.status, 2) << args.back();
        EXPECT_EQ(parsed.err.rfind("ztctl: ", 0), 0u) << parsed.err;
    }
}

TEST(ZtctlCommandLine, NamesThatCouldEscapeTheirPlaceAreNoAccountNames) {
    const struct {
        std::string name;
        bool valid;
    } rows[] = {
        {"alice", true},
        {"j.doe_2-x", true},
        {"\xc3\xa9lise", true},
        {std::string(256, 'a'), true},
        {"", false},
        {std::string(257, 'a'), false},
        {".", false},
        {"..", false},
        {"../etc", false},
        {"a/b", false},
        {"a:b", false},
        {"a b", false},
        {"-rf", false},
        {"tab\there", false},
        {"bell\a", false},
        {"del\x7f", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ztctl::valid_account_name(row.name), row.valid) << row.name;
        // The command line refuses them where a NAME is taken.
        const auto parsed = parse_command_line({"user", "remove", row.name});
        EXPECT_EQ(parsed.run.has_value(), row.valid) << row.name;
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
