#include "system/getpidlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>

#include "system/accounts.h"
#include "system/fio.h"

namespace os {

namespace {

// The whole content of a small kernel file; false when it cannot be read. Plain open and
// read underneath, so that the preload of the test driver answers its files too.
bool read_text(const std::string& path, std::string& out) {
    std::error_code ec;
    out = fio::read(path, ec);
    return !ec;
}

template <typename T>
bool parse_number(std::string_view text, T& out, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The fields of a line between the separators.
std::vector<std::string_view> fields(std::string_view line, std::string_view separators = " \t") {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < line.size();) {
        const auto start = line.find_first_not_of(separators, i);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(line.find_first_of(separators, start), line.size());
        out.push_back(line.substr(start, end - start));
        i = end;
    }
    return out;
}

// Calls f with each line until it returns true.
template <typename F>
void for_each_line(std::string_view text, F&& f) {
    for (std::size_t start = 0; start < text.size();) {
        const auto end = std::min(text.find('\n', start), text.size());
        if (f(text.substr(start, end - start))) {
            return;
        }
        start = end + 1;
    }
}

// A field of the mount tables, whose spaces, tabs, newlines and backslashes the kernel writes
// as three octal digits after a backslash.
std::string unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        unsigned value = 0;
        if (field[i] == '\\' && i + 3 < field.size() &&
            parse_number(field.substr(i + 1, 3), value, 8) && value < 256) {
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

struct dir_closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

// The identity of a mount namespace link, or nothing when it cannot be read.
std::optional<std::pair<dev_t, ino_t>> mount_namespace(const std::string& proc_dir) {
    struct stat st {};
    if (::stat((proc_dir + "/ns/mnt").c_str(), &st) != 0) {
        return std::nullopt;
    }
    return std::make_pair(st.st_dev, st.st_ino);
}

// Whether the process of pidfd has ended (or the pidfd cannot tell).
bool has_ended(const unique_fd& pidfd) {
    pollfd entry{pidfd.get(), POLLIN, 0};
    int ready;
    while ((ready = ::poll(&entry, 1, 0)) < 0 && errno == EINTR) {
    }
    return ready != 0;
}

// A command name fit for a log line and a listing.
std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c < 0x20 || c > 0x7e) {
            c = '?';
        }
    }
    return out;
}

}  // namespace

const char* hold_name(hold how) noexcept {
    switch (how) {
        case hold::working_directory:
            return "cwd";
        case hold::root:
            return "root";
        case hold::open_file:
            return "open file";
        case hold::mapping:
            return "mapping";
    }
    return "?";
}

std::string get_device_name(const std::string& device_path) {
    constexpr std::string_view prefix = "/dev/";
    return device_path.rfind(prefix, 0) == 0 ? device_path.substr(prefix.size()) : device_path;
}

std::string get_device_num_entry(const std::string& name, std::error_code& ec) {
    std::string text;
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    if (!read_text("/sys/block/" + name + "/dev", text)) {
        ec = {errno, std::generic_category()};
        return {};
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    ec.clear();
    return text;
}

bool get_device_major(std::string_view entry, std::uint32_t& major) {
    const auto colon = entry.find(':');
    return colon != std::string_view::npos &&
           entry.find(':', colon + 1) == std::string_view::npos &&
           is_digit(entry.substr(0, colon)) && parse_number(entry.substr(0, colon), major);
}

bool get_device_minor(std::string_view entry, std::uint32_t& minor) {
    const auto colon = entry.find(':');
    return colon != std::string_view::npos &&
           entry.find(':', colon + 1) == std::string_view::npos &&
           is_digit(entry.substr(colon + 1)) && parse_number(entry.substr(colon + 1), minor);
}

std::uint32_t get_mount_id(std::string_view mountinfo, std::string_view entry,
                           const std::string& mount_dir) {
    std::uint32_t id = UINT32_MAX;
    for_each_line(mountinfo, [&](std::string_view line) {
        const auto f = fields(line, " ");
        if (f.size() < 5 || f[2] != entry || (!mount_dir.empty() && unescape(f[4]) != mount_dir)) {
            return false;
        }
        if (!parse_number(f[0], id)) {
            id = UINT32_MAX;
        }
        return true;
    });
    return id;
}

std::string get_mount_dir(std::string_view mounts, const std::string& device_path) {
    std::string dir;
    for_each_line(mounts, [&](std::string_view line) {
        const auto f = fields(line, " ");
        if (f.size() > 1 && unescape(f[0]) == device_path) {
            dir = unescape(f[1]);
            return true;
        }
        return false;
    });
    return dir;
}

bool get_device_info(const std::string& device_path, dev_info& device, std::error_code& ec) {
    device = dev_info{};
    device.name = get_device_name(device_path);
    const std::string entry = get_device_num_entry(device.name, ec);
    if (ec) {
        return false;
    }
    if (!get_device_major(entry, device.major) || !get_device_minor(entry, device.minor)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    std::string text;
    if (!read_text("/proc/self/mounts", text)) {
        ec = {errno, std::generic_category()};
        return false;
    }
    device.mount_dir = get_mount_dir(text, device_path);
    // Without it no open file is recognised; the other tests still run.
    if (read_text("/proc/self/mountinfo", text)) {
        device.mount_id = get_mount_id(text, entry, device.mount_dir);
    }
    ec.clear();
    return true;
}

bool is_digit(std::string_view text) noexcept {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool to_uint32_from_hex(std::string_view text, std::uint32_t& value) noexcept {
    // from_chars would also take a sign.
    return !text.empty() && text.front() != '-' && text.front() != '+' &&
           parse_number(text, value, 16);
}

std::string read_link(const std::string& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

std::string get_cwd(const std::string& proc_dir) {
    return read_link(proc_dir + "/cwd");
}

bool is_cwd_contain_mounted_dir(const std::string& cwd, const std::string& mount_dir) {
    if (cwd.empty() || mount_dir.empty() || cwd.compare(0, mount_dir.size(), mount_dir) != 0) {
        return false;
    }
    return cwd.size() == mount_dir.size() || mount_dir.back() == '/' ||
           cwd[mount_dir.size()] == '/';
}

bool is_fd_on_mnt_id(std::string_view fdinfo, std::uint32_t mount_id) {
    bool on = false;
    for_each_line(fdinfo, [&](std::string_view line) {
        const auto f = fields(line, ": \t");
        if (f.empty() || f[0] != "mnt_id") {
            return false;
        }
        std::uint32_t id = 0;
        on = f.size() > 1 && parse_number(f[1], id) && id == mount_id;
        return true;
    });
    return on && mount_id != UINT32_MAX;
}

bool is_fdinfo_dir_suit(const std::string& proc_dir, std::uint32_t mount_id) {
    if (mount_id == UINT32_MAX) {
        return false;
    }
    const std::string dir_path = proc_dir + "/fdinfo";
    const dir_ptr dir(::opendir(dir_path.c_str()));
    if (!dir) {
        return false;
    }
    std::string text;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (is_digit(entry->d_name) && read_text(dir_path + "/" + entry->d_name, text) &&
            is_fd_on_mnt_id(text, mount_id)) {
            return true;
        }
    }
    return false;
}

bool is_maps_suit(std::string_view maps, std::uint32_t major, std::uint32_t minor) {
    if (major == 0 && minor == 0) {
        return false;
    }
    bool found = false;
    for_each_line(maps, [&](std::string_view line) {
        const auto f = fields(line);
        if (f.size() < 4) {
            return false;
        }
        const auto colon = f[3].find(':');
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        found = colon != std::string_view::npos && to_uint32_from_hex(f[3].substr(0, colon), a) &&
                to_uint32_from_hex(f[3].substr(colon + 1), b) && a == major && b == minor;
        return found;
    });
    return found;
}

std::optional<uid_t> get_status_uid(std::string_view status) {
    std::optional<uid_t> uid;
    for_each_line(status, [&](std::string_view line) {
        const auto f = fields(line, ": \t");
        if (f.empty() || f[0] != "Uid") {
            return false;
        }
        uid_t value = 0;
        if (f.size() > 1 && parse_number(f[1], value)) {
            uid = value;
        }
        return true;
    });
    return uid;
}

std::optional<hold> how_held(const std::string& proc_dir, const dev_info& device,
                             bool same_namespace) {
    if (same_namespace && is_cwd_contain_mounted_dir(get_cwd(proc_dir), device.mount_dir)) {
        return hold::working_directory;
    }
    if (same_namespace &&
        is_cwd_contain_mounted_dir(read_link(proc_dir + "/root"), device.mount_dir)) {
        return hold::root;
    }
    if (is_fdinfo_dir_suit(proc_dir, device.mount_id)) {
        return hold::open_file;
    }
    std::string maps;
    if (read_text(proc_dir + "/maps", maps) && is_maps_suit(maps, device.major, device.minor)) {
        return hold::mapping;
    }
    return std::nullopt;
}

std::vector<holder> get_pid_list(const std::string& device_path, std::error_code& ec,
                                 bool* no_mount_line) {
    dev_info device;
    if (!get_device_info(device_path, device, ec)) {
        return {};
    }
    if (no_mount_line != nullptr) {
        *no_mount_line = device.mount_dir.empty();
    }
    const dir_ptr proc(::opendir("/proc"));
    if (!proc) {
        ec = {errno, std::generic_category()};
        return {};
    }
    const auto ours = mount_namespace("/proc/self");
    const pid_t self = ::getpid();
    std::vector<holder> out;
    std::string text;
    while (const dirent* entry = ::readdir(proc.get())) {
        holder found;
        if (!is_digit(entry->d_name) || !parse_number(std::string_view(entry->d_name), found.pid) ||
            found.pid == self) {
            continue;
        }
        // Opened before the files are read, and checked after: what was read is then the
        // process this pidfd names.
        found.pidfd.reset(static_cast<int>(::syscall(SYS_pidfd_open, found.pid, 0)));
        if (!found.pidfd) {
            continue;  // gone already
        }
        const std::string dir = std::string("/proc/") + entry->d_name;
        const auto theirs = mount_namespace(dir);
        const auto how = how_held(dir, device, ours && theirs && *ours == *theirs);
        if (!how || has_ended(found.pidfd)) {
            continue;
        }
        found.how = *how;
        std::optional<uid_t> uid;
        if (read_text(dir + "/status", text)) {
            uid = get_status_uid(text);
        }
        struct stat st {};
        if (!uid && ::stat(dir.c_str(), &st) == 0) {
            uid = st.st_uid;  // the effective uid, when the status cannot tell the real one
        }
        if (uid) {
            found.uid = *uid;
            found.user = get_user_name(*uid);
        }
        if (read_text(dir + "/comm", text)) {
            found.command = printable(text.substr(0, text.find('\n')));
        }
        out.push_back(std::move(found));
    }
    ec.clear();
    return out;
}

}  // namespace os
