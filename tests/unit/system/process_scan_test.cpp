// The readers of the process scan, fed the text of the kernel's files.

#include <gtest/gtest.h>

#include "system/getpidlist.h"

namespace {

TEST(ProcessScan, MountTablesAndDeviceNumbers) {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    EXPECT_TRUE(os::parse_device_numbers("7:3\n", major, minor));
    EXPECT_EQ(std::pair(major, minor), std::pair(7u, 3u));
    for (const char* bad : {"", "7", "7:", ":3", "a:3", "7:3x"}) {
        EXPECT_FALSE(os::parse_device_numbers(bad, major, minor)) << bad;
    }
    const char* mountinfo =
        "22 1 0:21 / / rw - tmpfs tmpfs rw\n"
        "40 22 7:30 / /zt/alicex rw - ext4 /dev/cryx30 rw\n"
        "41 22 7:3 / /zt/al rw,nosuid - ext4 /dev/cryx3 rw\n";
    EXPECT_EQ(os::find_mount_id(mountinfo, 7, 3), 41u);
    EXPECT_EQ(os::find_mount_id(mountinfo, 7, 4), UINT32_MAX);
    const char* mounts =
        "/dev/cryx30 /zt/alicex ext4 rw 0 0\n"
        "/dev/cryx3 /zt/with\\040space ext4 rw 0 0\n";
    EXPECT_EQ(os::find_mount_dir(mounts, "/dev/cryx3"), "/zt/with space");
    EXPECT_EQ(os::find_mount_dir(mounts, "/dev/cryx"), "");
}

TEST(ProcessScan, WorkingDirectoriesMatchAtASlashBoundary) {
    const struct {
        const char* path;
        const char* dir;
        bool within;
    } cases[] = {
        {"/zt/al", "/zt/al", true},       {"/zt/al/docs", "/zt/al", true},
        {"/zt/alice", "/zt/al", false},   {"/zt/alice/docs", "/zt/al", false},
        {"/zt", "/zt/al", false},         {"/anything", "", false},
        {"", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(os::is_within(c.path, c.dir), c.within) << c.path << " in " << c.dir;
    }
}

TEST(ProcessScan, OpenFilesAndMappings) {
    EXPECT_EQ(os::fdinfo_mount_id("pos:\t0\nflags:\t02\nmnt_id:\t41\nino:\t12\n"), 41u);
    EXPECT_EQ(os::fdinfo_mount_id("pos:\t0\n"), UINT32_MAX);
    const char* maps =
        "55d0-55d1 r--p 00000000 00:15 123 /usr/bin/sleep\n"
        "7f00-7f01 r--p 00000000 07:03 99 /zt/al/lib.so\n";
    EXPECT_TRUE(os::maps_device(maps, 7, 3));
    EXPECT_FALSE(os::maps_device(maps, 7, 30));
    EXPECT_FALSE(os::maps_device("7f00-7f01 rw-p 00000000 00:00 0\n", 0, 0));
}

}  // namespace
