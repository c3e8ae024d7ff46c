#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "database/admin_entry.h"
#include "database/disk_entry.h"
#include "database/entry_info.h"
#include "database/entry_profile.h"
#include "database/serializer.h"
#include "database/user_entry.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes from_hex(const std::string& hex) {
    bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

bytes text(const std::string& s) {
    return bytes(s.begin(), s.end());
}

bytes uuid_bytes() {
    bytes raw;
    for (unsigned char b = 1; b <= 16; ++b) {
        raw.push_back(b);
    }
    return raw;
}

// The user of the byte-exact frame below.
db::UserEntry sample_user() {
    db::UserEntry user;
    user.set_id(5);
    user.set_name("u");
    user.set_container(
        text("c"), [](const bytes&) { return text("H"); }, 9);
    user.set_public_key(text("k"));
    user.set_parameter(text("p"));
    user.set_symmetric_material(text("s"));
    auto& disk = user.disk();
    disk.set_size(0x1000);
    disk.set_path("/p");
    disk.set_mount_directory("/m");
    disk.set_fs("e");
    disk.guid() = Uuid(uuid_bytes());
    disk.set_hash(text("h"));
    disk.set_status(DiskStateInfo::created);
    disk.set_creation_time(7);
    return user;
}

// Every item written out: length (4, little-endian) then the bytes.
// clang-format off
const std::string kDiskFrame =
    "4a00000000000000"                             // body length 74
    "08000000" "0010000000000000"                  // size 0x1000
    "02000000" "2f70"                              // path "/p"
    "02000000" "2f6d"                              // mount directory "/m"
    "01000000" "65"                                // fs "e"
    "10000000" "0102030405060708090a0b0c0d0e0f10"  // guid
    "01000000" "68"                                // hash "h"
    "04000000" "01000000"                          // status 1 (created)
    "08000000" "0700000000000000";                 // creation time 7

const std::string kUserFrame =
    "9000000000000000"                             // body length 144
    "08000000" "0500000000000000"                  // id 5
    "08000000" "0900000000000000"                  // container time 9
    "01000000" "75"                                // name "u"
    "52000000" + kDiskFrame +                      // disk, 82 bytes
    "01000000" "63"                                // container "c"
    "01000000" "6b"                                // public key "k"
    "01000000" "70"                                // parameter "p"
    "01000000" "73"                                // symmetric material "s"
    "00000000"                                     // encrypted key (empty)
    "01000000" "48";                               // hash "H"
// clang-format on

TEST(UserEntryFrame, EncodesItemsInOrderWithNestedDiskFrame) {
    EXPECT_EQ(sample_user().serialize(), from_hex(kUserFrame));
}

TEST(UserEntryFrame, DecodesBackFieldForField) {
    db::UserEntry user;
    user.deserialize(from_hex(kUserFrame));
    EXPECT_EQ(user.get_id(), 5u);
    EXPECT_EQ(user.get_container_creation_time(), 9);
    EXPECT_EQ(user.get_name(), "u");
    EXPECT_EQ(user.get_container(), text("c"));
    EXPECT_EQ(user.get_public_key(), text("k"));
    EXPECT_EQ(user.get_parameter(), text("p"));
    EXPECT_EQ(user.get_symmetric_material(), text("s"));
    EXPECT_TRUE(user.get_encrypted_key().empty());
    EXPECT_EQ(user.get_hash(), text("H"));
    const auto& disk = user.disk();
    EXPECT_EQ(disk.get_size(), 0x1000u);
    EXPECT_EQ(disk.get_path(), "/p");
    EXPECT_EQ(disk.get_mount_directory(), "/m");
    EXPECT_EQ(disk.get_fs(), "e");
    EXPECT_EQ(disk.guid(), Uuid(uuid_bytes()));
    EXPECT_EQ(disk.get_hash(), text("h"));
    EXPECT_EQ(disk.get_status(), DiskStateInfo::created);
    EXPECT_EQ(disk.get_creation_time(), 7);
}

TEST(UserEntryFrame, ThreeItemFrameLeavesTheRestEmpty) {
    Serializer frame;
    frame.push_back(from_hex("0700000000000000"));
    frame.push_back(from_hex("0300000000000000"));
    frame.push_back(text("alice"));
    db::UserEntry user = sample_user();
    user.deserialize(frame.serialize());
    EXPECT_EQ(user.get_id(), 7u);
    EXPECT_EQ(user.get_container_creation_time(), 3);
    EXPECT_EQ(user.get_name(), "alice");
    EXPECT_TRUE(user.get_container().empty());
    EXPECT_TRUE(user.get_hash().empty());
    EXPECT_TRUE(user.get_symmetric_material().empty());
}

TEST(UserEntryFrame, MissingDiskItemKeepsDefaultDiskAndBasicInfo) {
    Serializer frame;
    frame.push_back(from_hex("0700000000000000"));
    frame.push_back(from_hex("0300000000000000"));
    frame.push_back(text("bob"));
    frame.push_back(bytes(8, 0));  // a disk frame with no items
    db::UserEntry user;
    user.deserialize(frame.serialize());
    EXPECT_TRUE(user.disk().guid().is_null());
    EXPECT_EQ(user.disk().get_status(), DiskStateInfo::none);
    const EntryInfo info = user.info();
    EXPECT_FALSE(info.extended);
    EXPECT_EQ(info.name, "bob");
    EXPECT_EQ(info.type, entry_type::user);
}

TEST(DiskEntryFrame, FrameWithoutItemsLeavesTheDiskAsItWas) {
    db::DiskEntry disk = sample_user().disk();
    const bytes before = disk.serialize();
    disk.deserialize(bytes(8, 0));
    disk.deserialize(bytes{});
    EXPECT_EQ(disk.serialize(), before);
}

TEST(DiskEntryFrame, MountedStatusLoadsAsUnmounted) {
    const std::pair<DiskStateInfo, DiskStateInfo> cases[] = {
        {DiskStateInfo::none, DiskStateInfo::none},
        {DiskStateInfo::created, DiskStateInfo::created},
        {DiskStateInfo::mounted, DiskStateInfo::unmounted},
        {DiskStateInfo::unmounted, DiskStateInfo::unmounted},
    };
    for (const auto& [saved, loaded] : cases) {
        db::DiskEntry disk;
        disk.set_path("/d");
        disk.set_status(saved);
        db::DiskEntry back;
        back.deserialize(disk.serialize());
        EXPECT_EQ(back.get_status(), loaded) << static_cast<int>(saved);
    }
}

TEST(DiskEntryFrame, RuntimeStateIsNeverEncoded) {
    db::DiskEntry disk = sample_user().disk();
    const bytes plain = disk.serialize();
    disk.state().set_mount(true);
    disk.state().set_loop_device_name("/dev/loop3");
    disk.state().set_cryx_device_name("/dev/cryx0");
    EXPECT_EQ(disk.serialize(), plain);
}

TEST(DiskEntryFrame, UuidItemOfAnotherLengthReadsAsNull) {
    for (const std::size_t length : {0u, 1u, 15u, 17u, 32u}) {
        Serializer frame;
        frame.push_back(from_hex("0100000000000000"));
        frame.push_back(text("/p"));
        frame.push_back(text("/m"));
        frame.push_back(text("ext4"));
        frame.push_back(bytes(length, 0xAB));
        db::DiskEntry disk = sample_user().disk();
        disk.deserialize(frame.serialize());
        EXPECT_TRUE(disk.guid().is_null()) << length;
        EXPECT_EQ(disk.get_fs(), "ext4");
    }
}

TEST(AdminEntryFrame, EncodesEightItemsAndDecodesBack) {
    db::AdminEntry admin;
    admin.set_id(2);
    admin.set_name("root");
    admin.set_container(
        text("container"), [](const bytes& c) { return bytes(c.rbegin(), c.rend()); }, -5);
    admin.set_parameter(text("token"));
    Serializer frame;
    frame.deserialize(admin.serialize());
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame[0], from_hex("0200000000000000"));
    EXPECT_EQ(frame[1], from_hex("fbffffffffffffff"));
    EXPECT_EQ(frame[2], text("root"));
    EXPECT_EQ(frame[3], text("container"));
    EXPECT_EQ(frame[5], text("token"));
    EXPECT_EQ(frame[7], text("reniatnoc"));

    db::AdminEntry back;
    back.deserialize(admin.serialize());
    EXPECT_EQ(back.serialize(), admin.serialize());
    EXPECT_EQ(back.profile().type, entry_type::admin);
    EXPECT_FALSE(back.info().extended);
    EXPECT_EQ(back.info().creation_time, -5);
}

TEST(UserEntryInfo, DiskGivesExtendedPartWithUuidText) {
    const EntryInfo info = sample_user().info();
    ASSERT_TRUE(info.extended);
    EXPECT_EQ(info.ext.uuid, "01020304-0506-0708-090a-0b0c0d0e0f10");
    EXPECT_EQ(info.ext.path, "/p");
    EXPECT_EQ(info.ext.size, 0x1000u);
    EXPECT_EQ(info.ext.creation_time, 7);
    EXPECT_EQ(info.ext.status, DiskStateInfo::created);
    EXPECT_EQ(info.creation_time, 9);
}

TEST(EntryInfoFrame, ExtendedRecordRoundTripsAndBasicHasFiveItems) {
    const EntryInfo extended = sample_user().info();
    EntryInfo back;
    back.deserialize(extended.serialize());
    EXPECT_TRUE(back.extended);
    EXPECT_EQ(back.serialize(), extended.serialize());

    Serializer frame;
    frame.deserialize(EntryInfo("n", 1, 2, entry_type::admin).serialize());
    ASSERT_EQ(frame.size(), 5u);
    EXPECT_EQ(frame[3], from_hex("00100000"));
    EXPECT_EQ(frame[4], from_hex("00"));
}

TEST(EntryInfoFrame, FlagFalseWithExtraItemsClearsTheDiskPart) {
    Serializer frame;
    frame.deserialize(sample_user().info().serialize());
    frame[4] = from_hex("00");  // flag false, the five disk items stay behind it
    EntryInfo info = sample_user().info();
    info.deserialize(frame.serialize());
    EXPECT_FALSE(info.extended);
    EXPECT_FALSE(info.ext);
    EXPECT_TRUE(info.ext.uuid.empty());
    EXPECT_EQ(info.ext.size, 0u);
}

TEST(EntryInfoFrame, BoolFlagOtherThanOneCountsAsTrue) {
    Serializer frame;
    frame.deserialize(sample_user().info().serialize());
    frame[4] = from_hex("02");
    EntryInfo info;
    info.deserialize(frame.serialize());
    EXPECT_TRUE(info.extended);
    EXPECT_EQ(info.ext.path, "/p");
}

TEST(EntryProfileFrame, NameIdTypeRoundTrip) {
    const entry_profile profile("carol", 42, entry_type::user);
    Serializer frame;
    frame.deserialize(profile.serialize());
    ASSERT_EQ(frame.size(), 3u);
    EXPECT_EQ(frame[2], from_hex("00200000"));
    entry_profile back;
    back.desiarialize(profile.serialize());
    EXPECT_EQ(back.name, "carol");
    EXPECT_EQ(back.id, 42u);
    EXPECT_EQ(back.type, entry_type::user);
}

TEST(EntryInfoDefaults, DefaultRecordIsBasicUserWithZeroes) {
    const EntryInfo info;
    EXPECT_FALSE(info.extended);
    EXPECT_EQ(info.type, entry_type::user);
    EXPECT_EQ(info.id, 0u);
    EntryInfo::Extended ext;
    ext.creation_time = 11;
    ext.status = DiskStateInfo::mounted;
    ext.path = "/x";
    EXPECT_TRUE(ext);
    ext.clear();
    EXPECT_FALSE(ext);
    EXPECT_TRUE(ext.path.empty());
    EXPECT_EQ(ext.creation_time, 11);
}

}  // namespace
