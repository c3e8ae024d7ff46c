#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "system/unique_fd.h"

namespace os {

// How a process holds a mounted file system, in the order the scan tests it.
enum class hold { working_directory, root, open_file, mapping };

// A short name of how: "cwd", "root", "open file" or "mapping".
const char* hold_name(hold how) noexcept;

// One process that holds a mount, seen by the scan. Its pidfd was opened before its files
// were read and it was still running after, so a signal through the pidfd reaches the process
// that was tested and never a later one with the same pid. Where the kernel gives no pidfd
// (before 5.3, a seccomp filter, valgrind) the process is told from a later one with its pid
// by its start time, read before its files.
struct holder {
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);  // its real uid; all bits set when it could not be read
    std::string user;                    // the account name of uid, empty when there is none
    std::string command;  // its "comm", every byte outside printable ASCII shown as '?'
    hold how = hold::working_directory;
    unique_fd pidfd;
    std::uint64_t start_time = 0;  // without a pidfd: clock ticks after boot
};

// Whether the process has ended: its pidfd is readable; without one, its pid is gone, a zombie
// or a later process.
bool has_ended(const holder& process);
// Sends sig to the process through its pidfd, or by pid while the pid still names it. False
// when the signal was not sent (the process has ended).
bool send_signal(const holder& process, int sig);
// The state letter and the start time on a /proc/<pid>/stat text (the command in parentheses
// may hold any bytes, ")" too); false when the text is not such a line.
bool get_stat_start(std::string_view stat, char& state, std::uint64_t& start_time);

// The device whose users are sought.
struct dev_info {
    std::string name;       // the path without "/dev/"
    std::string mount_dir;  // from the mount table; empty when it has no line for the device
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t mount_id = UINT32_MAX;  // in /proc/self/mountinfo; all bits set when not found
};

// The processes that use the file system mounted from device_path, in /proc order, each once,
// this process left out: working directory or root at or below the mount directory (both only
// for processes of this mount namespace, where paths mean what they mean here), an open file
// on the mount, or a mapping of a file of the device. Without a line for the device in the
// mount table both directory tests are skipped (nothing is "below" an unknown directory) and
// *no_mount_line is set. A bad device name gives EINVAL; an unreadable device number, mount
// table or /proc gives errno (generic category); both with an empty list.
std::vector<holder> get_pid_list(const std::string& device_path, std::error_code& ec,
                                 bool* no_mount_line = nullptr);

// The device and its mount as the kernel's tables show them now (errors as get_pid_list's).
bool get_device_info(const std::string& device_path, dev_info& device, std::error_code& ec);

// device_path without a leading "/dev/" (a path without it whole).
std::string get_device_name(const std::string& device_path);
// The "major:minor" text of /sys/block/<name>/dev, trailing newline
// dropped. A name that is empty, "." or "..", or holds a "/" gives EINVAL; an unreadable file
// its errno (generic category); both an empty text.
std::string get_device_num_entry(const std::string& name, std::error_code& ec);
// The decimal number before (major) or after (minor) the colon of such a text; false when the
// text is not two decimal numbers joined by one colon.
bool get_device_major(std::string_view entry, std::uint32_t& major);
bool get_device_minor(std::string_view entry, std::uint32_t& minor);
// The mount id of the first /proc/self/mountinfo line whose device field is entry
// ("major:minor") and, when mount_dir is not empty, whose mount point is mount_dir (so a bind
// mount of the same device elsewhere is not taken for it); all bits set when there is none.
std::uint32_t get_mount_id(std::string_view mountinfo, std::string_view entry,
                           const std::string& mount_dir);
// The mount point of the first /proc/self/mounts line whose source is device_path (octal
// escapes such as "\040" decoded); empty when there is none.
std::string get_mount_dir(std::string_view mounts, const std::string& device_path);

// Whether text is a non-empty string of decimal digits.
bool is_digit(std::string_view text) noexcept;
// The non-empty hexadecimal text as a 32-bit number; false when it is not one.
bool to_uint32_from_hex(std::string_view text, std::uint32_t& value) noexcept;
// The target of the link at path (up to 4096 bytes), empty when it cannot be read.
std::string read_link(const std::string& path);
// The working directory of the process whose /proc directory is proc_dir, empty if unreadable.
std::string get_cwd(const std::string& proc_dir);
// Whether cwd is mount_dir itself or a path below it, at a "/" boundary: "/zt/alice" is not
// below "/zt/al". An empty cwd or mount_dir contains nothing.
bool is_cwd_contain_mounted_dir(const std::string& cwd, const std::string& mount_dir);
// Whether a /proc/<pid>/fdinfo/<fd> text says the descriptor is on mount mount_id.
bool is_fd_on_mnt_id(std::string_view fdinfo, std::uint32_t mount_id);
// Whether a descriptor listed in proc_dir's "fdinfo" is on mount mount_id (false for all bits
// set, and for an unreadable directory).
bool is_fdinfo_dir_suit(const std::string& proc_dir, std::uint32_t mount_id);
// Whether a /proc/<pid>/maps text maps a file of the device major:minor (hexadecimal there);
// the device 0:0 of anonymous mappings never matches.
bool is_maps_suit(std::string_view maps, std::uint32_t major, std::uint32_t minor);
// The real uid on the "Uid:" line of a /proc/<pid>/status text.
std::optional<uid_t> get_status_uid(std::string_view status);

// How the process whose /proc directory is proc_dir holds device's mount: the first of its
// working directory, root ("cwd" and "root" links, tested only with same_namespace), open
// descriptors ("fdinfo") and mappings ("maps") that is on it; nothing when none is. Files that
// cannot be read do not match.
std::optional<hold> how_held(const std::string& proc_dir, const dev_info& device,
                             bool same_namespace);

}  // namespace os
