#include "client/ztctl/account_records.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "client/ztctl/mount_table.h"
#include "client/ztctl/output.h"
#include "database/serializer.h"
#include "system/cast.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes frame(std::initializer_list<bytes> items) {
    Serializer s;
    for (const bytes& item : items) {
        s.push_back(item);
    }
    return s.serialize();
}

const EntryInfo kUser{"alice", 7, 1700000000, entry_type::user};
const EntryInfo kDisk{"bob",
                      8,
                      1700000001,
                      entry_type::user,
                      {"0b8e7f1c-0c1d-4c7a-9f5e-2d3a4b5c6d7e", "/srv/bob.img", 64u << 20,
                       1700000100, DiskStateInfo::mounted}};
const EntryInfo kAdmin{"admin", 1, 1600000000, entry_type::admin};

TEST(ZtctlRecords, ReadsTheInfoFramesTheServiceSends) {
    EntryInfo info;
    ASSERT_TRUE(ztctl::decode_info(kDisk.serialize(), info));
    EXPECT_EQ(
        std::tie(info.name, info.id, info.extended, info.ext.path, info.ext.size, info.ext.status),
        std::tie(kDisk.name, kDisk.id, kDisk.extended, kDisk.ext.path, kDisk.ext.size,
                 kDisk.ext.status));
    EXPECT_TRUE(info.extended);
    ASSERT_TRUE(ztctl::decode_info(kAdmin.serialize(), info));
    EXPECT_EQ(std::pair(info.extended, info.type), std::pair(false, entry_type::admin));

    std::vector<EntryInfo> users;
    std::vector<EntryInfo> admins;
    const bytes lists =
        frame({frame({kUser.serialize(), kDisk.serialize()}), frame({kAdmin.serialize()})});
    ASSERT_TRUE(ztctl::decode_account_lists(lists, users, admins));
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[1].name, "bob");
    ASSERT_EQ(admins.size(), 1u);
    // No users: the first list is the 8-byte empty frame.
    ASSERT_TRUE(ztctl::decode_account_lists(
        frame({Serializer().serialize(), frame({kAdmin.serialize()})}), users, admins));
    EXPECT_TRUE(users.empty());

    entry_profile profile;
    ASSERT_TRUE(
        ztctl::decode_profile(entry_profile("admin", 1, entry_type::admin).serialize(), profile));
    EXPECT_EQ(std::pair(profile.name, profile.type),
              std::pair(std::string("admin"), entry_type::admin));
}

TEST(ZtctlRecords, RefusesFramesThatAreNotExactlyTheRecord) {
    const bytes user = kUser.serialize();
    bytes padded = user;
    padded.push_back(0);
    bytes truncated = user;
    truncated.pop_back();
    const bytes id = cast::to_vector<std::uint64_t>(7);
    const bytes time = cast::to_vector<std::int64_t>(1);
    const bytes user_type = cast::to_vector<std::uint32_t>(8192);
    // An info frame of one user with the disk flag and, when given, the disk part's state.
    const auto info = [&](unsigned char flag, int state = -1) {
        Serializer s;
        for (const bytes& item : {bytes{'a'}, id, time, user_type, bytes{flag}}) {
            s.push_back(item);
        }
        if (state >= 0) {
            for (const bytes& item : {bytes{'u'}, bytes{'p'}, cast::to_vector<std::uint64_t>(1),
                                      time, cast::to_vector<std::int32_t>(state)}) {
                s.push_back(item);
            }
        }
        return s.serialize();
    };
    const struct {
        const char* what;
        bytes frame;
    } infos[] = {
        {"empty", {}},
        {"padded", padded},
        {"truncated", truncated},
        {"four items", frame({cast::to_vector(std::string("a")), id, time, user_type})},
        {"short id", frame({{'a'}, {7, 0, 0, 0}, time, user_type, {0}})},
        {"unknown type", frame({{'a'}, id, time, cast::to_vector<std::uint32_t>(3), {0}})},
        {"flag of two", info(2)},
        {"flag without disk part", info(1)},
        {"disk part without flag", info(0, 1)},
        {"unknown disk state", info(1, 4)},
    };
    EntryInfo control;  // the helper's frames are refused for the fault in each, not in it
    EXPECT_TRUE(ztctl::decode_info(info(1, 1), control) && ztctl::decode_info(info(0), control));
    for (const auto& row : infos) {
        EntryInfo decoded;
        EXPECT_FALSE(ztctl::decode_info(row.frame, decoded)) << row.what;
        std::vector<EntryInfo> list;
        EXPECT_FALSE(ztctl::decode_info_list(frame({user, row.frame}), list)) << row.what;
    }
    std::vector<EntryInfo> users;
    std::vector<EntryInfo> admins;
    EXPECT_FALSE(ztctl::decode_account_lists(frame({frame({user})}), users, admins));
    EXPECT_FALSE(ztctl::decode_account_lists(user, users, admins));
    entry_profile profile;
    EXPECT_FALSE(ztctl::decode_profile(frame({{'a'}, id}), profile));
    EXPECT_FALSE(
        ztctl::decode_profile(frame({{'a'}, id, cast::to_vector<std::uint32_t>(0)}), profile));
}

TEST(ZtctlOutput, ServiceTextCannotDriveTheTerminal) {
    const std::pair<std::string, std::string> rows[] = {
        {"alice", "alice"},
        {"\xc3\xa9lise \xe2\x82\xac", "\xc3\xa9lise \xe2\x82\xac"},
        {"a\x1b]0;owned\x07z", "a?]0;owned?z"},
        {"del\x7f", "del?"},
        {"csi\xc2\x9b"
         "2J",
         "csi??2J"},  // C1 control U+009B
        {"lone\x9b", "lone?"},
        {"cut\xe2\x82", "cut??"},
        {"overlong\xc0\xaf", "overlong??"},
        {"surrogate\xed\xa0\x80", "surrogate???"}};
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(ztctl::printable(in), out);
    }
}

TEST(ZtctlOutput, ColumnsLineUpByCharactersNotBytes) {
    EXPECT_EQ(ztctl::columns({{"NAME", "ID"}, {"\xc3\xa9lise", "1"}, {"bo", "12"}}),
              "NAME   ID\n"
              "\xc3\xa9lise  1\n"
              "bo     12\n");
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
    const std::pair<std::string, std::string> rows[] = {
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
    for (const auto& [directory, device] : rows) {
        EXPECT_EQ(ztctl::mounted_device(table, directory), device) << directory;
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
