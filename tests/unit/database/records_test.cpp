#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "database/admin_entry.h"
#include "database/disk_entry.h"
#include "database/entry_info.h"
#include "database/entry_profile.h"
#include "database/serializer.h"
#include "database/user_entry.h"
#include "service_fixture.h"

namespace {

using testing_db::bytes;
using testing_db::frame_of;
using testing_db::text;

bytes from_hex(const std::string& hex) {
    bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

const bytes kUuid = from_hex("0102030405060708090a0b0c0d0e0f10");

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
    disk.guid() = Uuid(kUuid);
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

TEST(UserEntryFrame, EncodesNestedDiskFrameAndDecodesBackFieldForField) {
    EXPECT_EQ(sample_user().serialize(), from_hex(kUserFrame));
    db::UserEntry user;
    user.deserialize(from_hex(kUserFrame));
    EXPECT_EQ(std::tuple(user.get_id(), user.get_container_creation_time(), user.get_name()),
              std::tuple(5u, 9, "u"));
    EXPECT_EQ(
        (std::vector{user.get_container(), user.get_public_key(), user.get_parameter(),
                     user.get_symmetric_material(), user.get_encrypted_key(), user.get_hash()}),
        (std::vector{text("c"), text("k"), text("p"), text("s"), bytes{}, text("H")}));
    const auto& disk = user.disk();
    EXPECT_EQ(
        std::tuple(disk.get_size(), disk.get_path(), disk.get_mount_directory(), disk.get_fs(),
                   disk.get_hash(), disk.get_status(), disk.get_creation_time()),
        std::tuple(0x1000u, "/p", "/m", "e", text("h"), DiskStateInfo::created, 7));
    EXPECT_EQ(disk.guid(), Uuid(kUuid));
}

// Missing items read as empty; an empty disk frame keeps the entry's disk as it was.
TEST(UserEntryFrame, ShortFrameLeavesTheRestEmptyAndKeepsTheDisk) {
    const bytes frame = frame_of({from_hex("0700000000000000"), from_hex("0300000000000000"),
                                  text("bob"), bytes(8, 0)});  // a disk frame with no items
    db::UserEntry user = sample_user();
    user.deserialize(frame);
    EXPECT_EQ(user.get_id(), 7u);
    EXPECT_EQ(user.get_name(), "bob");
    EXPECT_TRUE(user.get_container().empty());
    EXPECT_TRUE(user.get_hash().empty());
    EXPECT_EQ(user.disk().serialize(), sample_user().disk().serialize());
    db::UserEntry fresh;
    fresh.deserialize(frame);
    EXPECT_TRUE(fresh.disk().guid().is_null());
    EXPECT_FALSE(fresh.info().extended);
}

TEST(DiskEntryFrame, UuidItemOfAnotherLengthReadsAsNull) {
    for (const std::size_t length : {0u, 1u, 15u, 17u, 32u}) {
        db::DiskEntry disk = sample_user().disk();
        disk.deserialize(frame_of({from_hex("0100000000000000"), text("/p"), text("/m"),
                                   text("ext4"), bytes(length, 0xAB)}));
        EXPECT_TRUE(disk.guid().is_null()) << length;
        EXPECT_EQ(disk.get_fs(), "ext4");
    }
}

TEST(DiskEntryFrame, RuntimeStateIsNeverEncoded) {
    db::DiskEntry disk = sample_user().disk();
    const bytes plain = disk.serialize();
    disk.state().set_mount(true);
    disk.state().set_loop_device_name("/dev/loop3");
    EXPECT_EQ(disk.serialize(), plain);
}

TEST(AdminEntryFrame, EncodesEightItemsAndDecodesBack) {
    db::AdminEntry admin;
    admin.set_id(2);
    admin.set_container(
        text("container"), [](const bytes& c) { return bytes(c.rbegin(), c.rend()); }, -5);
    Serializer frame;
    frame.deserialize(admin.serialize());
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame[1], from_hex("fbffffffffffffff"));
    EXPECT_EQ(frame[7], text("reniatnoc"));
    db::AdminEntry back;
    back.deserialize(admin.serialize());
    EXPECT_EQ(back.serialize(), admin.serialize());
}

// The flag decides, whatever items follow it: false clears the disk part, any non-zero
// byte counts as true.
TEST(EntryInfoFrame, ExtendedFlagDecidesTheDiskPart) {
    for (const auto& [flag, extended] : {std::pair{"00", false}, {"01", true}, {"02", true}}) {
        Serializer frame;
        frame.deserialize(sample_user().info().serialize());
        frame[4] = from_hex(flag);
        EntryInfo info = sample_user().info();
        info.deserialize(frame.serialize());
        EXPECT_EQ(info.extended, extended) << flag;
        EXPECT_EQ(info.ext.uuid, extended ? "01020304-0506-0708-090a-0b0c0d0e0f10" : "") << flag;
        EXPECT_EQ(info.ext.size, extended ? 0x1000u : 0u) << flag;
    }
}

}  // namespace
