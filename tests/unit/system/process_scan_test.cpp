// The readers of the process scan, fed the text of the kernel's files and a process directory
// laid out as /proc shows one.

#include "system/getpidlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace {

using os::hold;

TEST(DeviceNumbers, OfTheSysfsEntryAndRefusedNames) {
    const struct {
        const char* entry;
        const char* numbers;  // empty when refused
    } rows[] = {
        {"7:3", "7 3"}, {"259:65536", "259 65536"},
        {"7", ""},      {":3", ""},
        {"7:", ""},     {"7:3:1", ""},
        {"-7:3", ""},   {"7: 3", ""},
        {"0x7:3", ""},  {"4294967296:1", ""},
    };
    for (const auto& row : rows) {
        std::uint32_t major = 0;
        std::uint32_t minor = 0;
        const bool ok =
            os::get_device_major(row.entry, major) && os::get_device_minor(row.entry, minor);
        EXPECT_EQ(ok ? std::to_string(major) + " " + std::to_string(minor) : "", row.numbers)
            << row.entry;
    }
    EXPECT_EQ(os::get_device_name("/dev/cryx3"), "cryx3");
    EXPECT_EQ(os::get_device_name("/devx/loop1"), "/devx/loop1");
    for (const char* name : {"", ".", "..", "../block/loop0", "mapper/x"}) {
        std::error_code ec;
        EXPECT_EQ(os::get_device_num_entry(name, ec), "") << name;
        EXPECT_EQ(ec, std::errc::invalid_argument) << name;
    }
    std::error_code ec;
    EXPECT_EQ(os::get_device_num_entry("zt-no-such-device", ec), "");
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

// A device mounted twice (a bind mount listed first), a mount point with a space, and a
// device whose numbers only prefix another's.
constexpr const char* kMountinfo =
    "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
    "40 1 253:1 / /srv/copy rw,relatime shared:9 - ext4 /dev/cryx1 rw\n"
    "41 1 253:1 / /zt/alice rw,nosuid,nodev,relatime - ext4 /dev/cryx1 rw\n"
    "42 1 253:10 / /zt/al rw,nosuid,nodev - ext4 /dev/cryx10 rw\n"
    "43 1 7:2 / /zt/bob\\040smith rw - ext4 /dev/loop2 rw\n";
constexpr const char* kMounts =
    "proc /proc proc rw,nosuid 0 0\n"
    "/dev/cryx10 /zt/al ext4 rw,nosuid,nodev 0 0\n"
    "/dev/cryx1 /zt/alice ext4 rw,nosuid,nodev 0 0\n"
    "/dev/cryx1 /srv/copy ext4 rw 0 0\n"
    "/dev/loop2 /zt/bob\\040smith ext4 rw 0 0\n"
    "/dev/loop\\0409 /zt/odd ext4 rw 0 0\n";

TEST(MountTables, MountOfADevice) {
    const struct {
        const char* device;
        const char* entry;
        const char* dir;
        std::uint32_t id;
    } rows[] = {
        {"/dev/cryx1", "253:1", "/zt/alice", 41},
        {"/dev/cryx10", "253:10", "/zt/al", 42},
        {"/dev/loop2", "7:2", "/zt/bob smith", 43},
        {"/dev/loop 9", "7:9", "/zt/odd", UINT32_MAX},
        {"/dev/cryx", "253:0", "", UINT32_MAX},
        {"cryx1", "253:1", "", 40},  // the source is the full path; the id is the first mount
    };
    for (const auto& row : rows) {
        const std::string dir = os::get_mount_dir(kMounts, row.device);
        EXPECT_EQ(dir, row.dir) << row.device;
        EXPECT_EQ(os::get_mount_id(kMountinfo, row.entry, dir), row.id) << row.device;
    }
    EXPECT_EQ(os::get_mount_dir("", "/dev/cryx1"), "");
    EXPECT_EQ(os::get_mount_id("41 1 253:1\n", "253:1", ""), UINT32_MAX);  // a cut line
}

TEST(ProcessFiles, DescriptorAndMappingLines) {
    const struct {
        const char* fdinfo;
        bool on_41;
    } fds[] = {
        {"pos:\t0\nflags:\t0100002\nmnt_id:\t41\nino:\t12\n", true},
        {"pos:\t0\nmnt_id:\t410\n", false},
        {"mnt_id:\t42\nmnt_id:\t41\n", false},  // the first line counts
        {"mnt_id:\n", false},
        {"", false},
    };
    for (const auto& row : fds) {
        EXPECT_EQ(os::is_fd_on_mnt_id(row.fdinfo, 41), row.on_41) << row.fdinfo;
    }
    EXPECT_FALSE(os::is_fd_on_mnt_id("mnt_id:\t4294967295\n", UINT32_MAX));

    const struct {
        const char* maps;
        bool on_253_1;
    } maps[] = {
        {"7f00-7f01 r--p 00000000 fd:01 1234   /zt/alice/lib.so\n", true},
        {"7f00-7f01 rw-p 00000000 00:00 0 \n7f02-7f03 r-xp 00001000 fd:01 99 /zt/a b\n", true},
        {"7f00-7f01 r--p 00000000 fd:10 1234 /zt/al/x\n", false},
        {"7f00-7f01 r--p 00000000 01:fd 1234 /x\n", false},
        {"7f00-7f01 r--p 00000000 253:1 1234 /x\n", false},  // decimal is not the kernel's
        {"", false},
    };
    for (const auto& row : maps) {
        EXPECT_EQ(os::is_maps_suit(row.maps, 253, 1), row.on_253_1) << row.maps;
    }
    EXPECT_FALSE(os::is_maps_suit("7f00-7f01 rw-p 00000000 00:00 0 [heap]\n", 0, 0));

    EXPECT_EQ(os::get_status_uid("Name:\tsleep\nUid:\t1001\t0\t0\t0\nGid:\t5\n"), 1001u);
    EXPECT_EQ(os::get_status_uid("Name:\tsleep\nGid:\t5\n"), std::nullopt);
}

// A process directory laid out as /proc shows one: cwd and root links, fdinfo, maps.
class ProcessDirectory : public TempDir {
  protected:
    struct layout {
        const char* name;
        const char* cwd;
        const char* root;
        std::vector<std::pair<const char*, const char*>> fdinfo;  // entry name, text
        const char* maps;
    };

    std::string make(const layout& l) {
        const std::string dir = path(l.name);
        EXPECT_EQ(::mkdir(dir.c_str(), 0700), 0);
        EXPECT_EQ(::symlink(l.cwd, (dir + "/cwd").c_str()), 0);
        EXPECT_EQ(::symlink(l.root, (dir + "/root").c_str()), 0);
        EXPECT_EQ(::mkdir((dir + "/fdinfo").c_str(), 0700), 0);
        for (const auto& [fd, text] : l.fdinfo) {
            std::ofstream(dir + "/fdinfo/" + fd) << text;
        }
        if (l.maps != nullptr) {
            std::ofstream(dir + "/maps") << l.maps;
        }
        return dir;
    }
};

TEST_F(ProcessDirectory, HowAProcessHoldsTheMount) {
    os::dev_info device;
    device.name = "cryx1";
    device.mount_dir = "/zt/al";
    device.major = 253;
    device.minor = 1;
    device.mount_id = 41;
    const char* on = "mnt_id:\t41\n";
    const char* off = "mnt_id:\t22\n";
    const char* mapped = "7f00-7f01 r--p 00000000 fd:01 77 /zt/al/lib.so\n";
    const char* unmapped = "7f00-7f01 r--p 00000000 08:01 77 /usr/lib/libc.so\n";
    const struct {
        layout l;
        std::optional<hold> how;
        std::optional<hold> other_namespace;
    } rows[] = {
        {{"cwd", "/zt/al/docs", "/", {{"0", on}}, mapped},
         hold::working_directory,
         hold::open_file},
        {{"root", "/run", "/zt/al", {}, unmapped}, hold::root, std::nullopt},
        {{"file", "/zt/alice", "/", {{"0", off}, {"7", on}}, mapped},
         hold::open_file,
         hold::open_file},
        {{"map", "/", "/", {{"0", off}}, mapped}, hold::mapping, hold::mapping},
        {{"sibling", "/zt/alice", "/zt/al-other", {{"0", off}}, unmapped},
         std::nullopt,
         std::nullopt},
        // Only the digit entries are descriptors; unreadable maps do not match.
        {{"odd", "/", "/", {{"x41", on}}, nullptr}, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        const std::string dir = make(row.l);
        EXPECT_EQ(os::how_held(dir, device, true), row.how) << row.l.name;
        EXPECT_EQ(os::how_held(dir, device, false), row.other_namespace) << row.l.name;
    }

    // Without a line in the mount table: nothing by directory, the other tests still count.
    device.mount_dir.clear();
    device.mount_id = UINT32_MAX;
    EXPECT_EQ(os::how_held(path("cwd"), device, true), hold::mapping);
    EXPECT_EQ(os::how_held(path("root"), device, true), std::nullopt);
    EXPECT_EQ(os::how_held(path("sibling"), device, true), std::nullopt);
}

}  // namespace
