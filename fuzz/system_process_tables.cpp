// The readers of the kernel's tables behind forced unmount, fed text instead of the live
// system: /proc/self/mounts and mountinfo, /sys/block/<dev>/dev, /proc/<pid>/fdinfo/<fd>,
// maps and status. Any text must parse without reading past it. And where the text starts
// with a line the kernel would write for known values (fields escaped as the kernel escapes
// them), each reader must find exactly those values, whatever follows.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "system/getpidlist.h"

namespace {

using fuzz::check;

// A mount table field as the kernel writes it: space, tab, newline and backslash in octal.
std::string escape(const std::string& field) {
    std::string out;
    for (const char c : field) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\\') {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
            out += octal;
        } else {
            out += c;
        }
    }
    return out;
}

std::string hex(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
}

void check_device_numbers(const std::string& entry) {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    if (os::get_device_major(entry, major) && os::get_device_minor(entry, minor)) {
        for (const char c : entry) {
            check(std::isdigit(static_cast<unsigned char>(c)) || c == ':');
        }
        const std::string again = std::to_string(major) + ":" + std::to_string(minor);
        std::uint32_t major_again = 0;
        std::uint32_t minor_again = 0;
        check(os::get_device_major(again, major_again) && major_again == major);
        check(os::get_device_minor(again, minor_again) && minor_again == minor);
    }
    std::uint32_t value = 0;
    if (os::to_uint32_from_hex(entry, value)) {
        for (const char c : entry) {
            check(std::isxdigit(static_cast<unsigned char>(c)));
        }
        std::uint32_t again = 0;
        check(os::to_uint32_from_hex(hex(value), again) && again == value);
    }
    if (os::is_digit(entry)) {
        check(!entry.empty());
    }
}

void check_mounts(const std::string& table, const std::string& device, const std::string& dir) {
    (void)os::get_mount_dir(table, device);
    if (device.empty() || dir.empty()) {
        return;
    }
    const std::string line = escape(device) + " " + escape(dir) + " ext4 rw,relatime 0 0\n";
    check(os::get_mount_dir(line + table, device) == dir);
}

void check_mountinfo(const std::string& table, std::uint32_t id, std::uint32_t major,
                     std::uint32_t minor, const std::string& dir) {
    const std::string entry = std::to_string(major) + ":" + std::to_string(minor);
    (void)os::get_mount_id(table, entry, dir);
    (void)os::get_mount_id(table, entry, "");
    if (id == UINT32_MAX || dir.empty()) {
        return;
    }
    const std::string line = std::to_string(id) + " 1 " + entry + " / " + escape(dir) +
                             " rw,relatime shared:1 - ext4 /dev/cryx0 rw\n";
    check(os::get_mount_id(line + table, entry, dir) == id);
    check(os::get_mount_id(line + table, entry, "") == id);
}

void check_process_files(const std::string& table, std::uint32_t id, std::uint32_t major,
                         std::uint32_t minor, std::uint32_t uid) {
    (void)os::is_fd_on_mnt_id(table, id);
    check(!os::is_fd_on_mnt_id(table, UINT32_MAX));
    const std::string fdinfo = "pos:\t0\nflags:\t0100002\nmnt_id:\t" + std::to_string(id) + "\n";
    check(os::is_fd_on_mnt_id(fdinfo + table, id) == (id != UINT32_MAX));

    (void)os::is_maps_suit(table, major, minor);
    check(!os::is_maps_suit(table, 0, 0));
    const std::string maps = "7f3a2c000000-7f3a2c021000 r--p 00000000 " + hex(major) + ":" +
                             hex(minor) + " 131 /zt/alice/lib.so\n";
    check(os::is_maps_suit(maps + table, major, minor) == (major != 0 || minor != 0));

    (void)os::get_status_uid(table);
    const std::string value = std::to_string(uid);
    const std::string status = "Name:\tcat\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t" + value +
                               "\t" + value + "\t" + value + "\t" + value + "\n";
    const auto found = os::get_status_uid(status + table);
    check(found && *found == static_cast<uid_t>(uid));

    // The command may hold any bytes, parentheses too: the fields count from the last ")".
    char state = 0;
    std::uint64_t start = 0;
    (void)os::get_stat_start(table, state, start);
    const std::string stat = "42 (" + table +
                             ") S 1 42 42 0 -1 4194560 97 0 0 0 0 0 0 0 20 0 1 0 " + value +
                             " 5632000 130 18446744073709551615\n";
    check(os::get_stat_start(stat, state, start) && state == 'S' && start == uid);
}

void check_below(const std::string& cwd, const std::string& dir) {
    if (os::is_cwd_contain_mounted_dir(cwd, dir)) {
        check(!dir.empty() && cwd.compare(0, dir.size(), dir) == 0);
    }
    check(os::is_cwd_contain_mounted_dir(dir, dir) == !dir.empty());
    check(os::is_cwd_contain_mounted_dir(dir + "/" + cwd, dir) == !dir.empty());
    // "/zt/alice" is not below "/zt/al".
    if (!dir.empty() && dir.back() != '/' && !cwd.empty() && cwd.front() != '/') {
        check(!os::is_cwd_contain_mounted_dir(dir + cwd, dir));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::input_reader input(data, size);
    const std::string device = input.text();
    const std::string dir = input.text();
    const std::string cwd = input.text();
    const std::uint32_t id = input.word();
    const std::uint32_t major = input.word();
    const std::uint32_t minor = input.word();
    const std::uint32_t uid = input.word();
    const std::string table = input.rest_text();

    check_device_numbers(device);
    check_device_numbers(cwd);
    (void)os::get_device_name(device);
    check_mounts(table, device, dir);
    check_mountinfo(table, id, major, minor, dir);
    check_process_files(table, id, major, minor, uid);
    check_below(cwd, dir);
    return 0;
}
