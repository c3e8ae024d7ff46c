#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "system/unique_fd.h"

namespace os {

// How a process holds a mounted file system.
enum class hold { working_directory, open_file, mapping };

// One process that holds a mount, seen by the scan: its pidfd was opened when it was seen,
// so a signal through it can only reach that process, never a later one with the same pid.
struct holder {
    pid_t pid = 0;
    uid_t uid = 0;
    std::string command;  // its "comm"
    hold how = hold::working_directory;
    unique_fd pidfd;
};

// The device whose users are sought.
struct dev_info {
    std::string name;       // the path without "/dev/"
    std::string mount_dir;  // from the mount table; empty when it has no line for the device
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t mount_id = UINT32_MAX;
};

// The processes that use the file system mounted from device_path: working directory at or
// below its mount directory, an open file on the mount, or a mapping of a file of the device;
// in /proc order, each once. Without a line in the mount table the working-directory test is
// skipped (an empty directory would match every process) and no_mount_line is set. A
// device number that cannot be read, or an unreadable table, gives errno and an empty list.
std::vector<holder> get_pid_list(const std::string& device_path, std::error_code& ec,
                                 bool* no_mount_line = nullptr);

// The parsers of the scan, on the text of the kernel's files.
// "major:minor" of a /sys/block/<name>/dev text; false when it is not two decimal numbers.
bool parse_device_numbers(std::string_view text, std::uint32_t& major, std::uint32_t& minor);
// The mount id of the first /proc/self/mountinfo line whose third field is "major:minor".
std::uint32_t find_mount_id(std::string_view mountinfo, std::uint32_t major, std::uint32_t minor);
// The mount point of the first /proc/self/mounts line whose source is device_path (octal
// escapes such as "\040" decoded); empty when there is none.
std::string find_mount_dir(std::string_view mounts, const std::string& device_path);
// Whether path is dir or lies below it ("/zt/al" is not below "/zt/alice"'s neighbour
// "/zt/al": the test stops at a "/" boundary). An empty dir contains nothing.
bool is_within(const std::string& path, const std::string& dir);
// The mnt_id of a /proc/<pid>/fdinfo/<fd> text, UINT32_MAX without one.
std::uint32_t fdinfo_mount_id(std::string_view fdinfo);
// Whether a /proc/<pid>/maps text maps a file of the device major:minor (hexadecimal there).
bool maps_device(std::string_view maps, std::uint32_t major, std::uint32_t minor);

}  // namespace os
