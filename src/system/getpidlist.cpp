#include "system/getpidlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

// Field n (from 0) of a line of fields separated by spaces or tabs; empty when there is none.
// Used on every maps line of every process, so it builds nothing.
std::string_view nth_field(std::string_view line, std::size_t n) {
    constexpr std::string_view separators = " \t";
    for (std::size_t i = 0;; --n) {
        const auto start = line.find_first_not_of(separators, i);
        if (start == std::string_view::npos) {
            return {};
        }
        const auto end = std::min(line.find_first_of(separators, start), line.size());
        if (n == 0) {
            return line.substr(start, end - start);
        }
        i = end;
    }
}

// A file of /proc read whole into buffer, which keeps its storage from one file to the next:
// a scan reads thousands of them. No fstat first, as these files report no size; plain open
// and read, so that the preload of the test driver answers its files too.
bool read_proc_file(int dir_fd, const char* name, std::string& buffer) {
    constexpr std::size_t kFirstRoom = 64 * 1024;
    const unique_fd fd(::openat(dir_fd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) {
        return false;
    }
    buffer.resize(std::max(buffer.capacity(), kFirstRoom));
    std::size_t done = 0;
    for (;;) {
        if (done == buffer.size()) {
            buffer.resize(buffer.size() * 2);
        }
        const ssize_t got = ::read(fd.get(), buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            buffer.resize(done);
            return got == 0;
        }
        done += static_cast<std::size_t>(got);
    }
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

// The identity of the mount namespace of the process whose /proc directory is proc, or
// nothing when it cannot be read.
std::optional<std::pair<dev_t, ino_t>> mount_namespace(int proc) {
    struct stat st {};
    if (::fstatat(proc, "ns/mnt", &st, 0) != 0) {
        return std::nullopt;
    }
    return std::make_pair(st.st_dev, st.st_ino);
}

// The target of the link name in the directory dir, empty when it cannot be read.
std::string read_link_at(int dir, const char* name) {
    char target[4096];
    const ssize_t n = ::readlinkat(dir, name, target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

// Whether a descriptor listed in the "fdinfo" of the process directory proc is on mount
// mount_id. The listing is read with getdents64 into a buffer of its own: a scan lists the
// descriptors of every process, and opendir would add two calls each time.
bool any_fd_on_mount(int proc, std::uint32_t mount_id) {
    const unique_fd listed(::openat(proc, "fdinfo", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listed) {
        return false;
    }
    alignas(dirent64) char entries[8192];
    std::string link = "fd/";
    std::string fdinfo = "fdinfo/";
    std::string text;
    for (;;) {
        const ssize_t got = ::getdents64(listed.get(), entries, sizeof entries);
        if (got <= 0) {
            return false;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            if (!is_digit(entry->d_name)) {
                continue;
            }
            // statx follows the descriptor's link to the open file, the same mount as the
            // fdinfo names, in one call instead of five. AT_STATX_DONT_SYNC keeps a FUSE or
            // network file system from being asked, so a hung server cannot hang the scan.
            struct statx st {};
            link.resize(3);
            link += entry->d_name;
            if (::statx(proc, link.c_str(), AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT, STATX_MNT_ID,
                        &st) == 0 &&
                (st.stx_mask & STATX_MNT_ID) != 0) {
                if (st.stx_mnt_id == mount_id) {
                    return true;
                }
                continue;
            }
            // No mount id from statx (a kernel before 5.8, a file system that refuses root,
            // no such link): the fdinfo tells.
            fdinfo.resize(7);
            fdinfo += entry->d_name;
            if (read_proc_file(proc, fdinfo.c_str(), text) && is_fd_on_mnt_id(text, mount_id)) {
                return true;
            }
        }
    }
}

// how_held on the process directory opened as proc.
std::optional<hold> how_held_at(int proc, const dev_info& device, bool same_namespace) {
    if (same_namespace && is_cwd_contain_mounted_dir(read_link_at(proc, "cwd"), device.mount_dir)) {
        return hold::working_directory;
    }
    if (same_namespace &&
        is_cwd_contain_mounted_dir(read_link_at(proc, "root"), device.mount_dir)) {
        return hold::root;
    }
    if (device.mount_id != UINT32_MAX && any_fd_on_mount(proc, device.mount_id)) {
        return hold::open_file;
    }
    // Kept from one process to the next: a scan reads the maps of every process.
    thread_local std::string maps;
    if (read_proc_file(proc, "maps", maps) && is_maps_suit(maps, device.major, device.minor)) {
        return hold::mapping;
    }
    return std::nullopt;
}

// The process directory, opened only to name the files in it.
unique_fd open_process_dir(const char* path) {
    return unique_fd(::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The state and start time of the process pid now; false when it has no /proc entry.
bool process_start(pid_t pid, char& state, std::uint64_t& start_time) {
    std::string text;
    return read_proc_file(AT_FDCWD, ("/proc/" + std::to_string(pid) + "/stat").c_str(), text) &&
           get_stat_start(text, state, start_time);
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

bool get_stat_start(std::string_view stat, char& state, std::uint64_t& start_time) {
    // "pid (comm) state ppid ..." with the start time the 22nd field, the 20th after the
    // command; the command ends at the last ")".
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos || stat.find('(') > close) {
        return false;
    }
    const auto rest = stat.substr(close + 1);
    const auto state_field = nth_field(rest, 0);
    const auto start_field = nth_field(rest, 19);
    if (state_field.size() != 1 || !is_digit(start_field) ||
        !parse_number(start_field, start_time)) {
        return false;
    }
    state = state_field[0];
    return true;
}

bool has_ended(const holder& process) {
    if (process.pidfd) {
        pollfd entry{process.pidfd.get(), POLLIN, 0};
        int ready;
        while ((ready = ::poll(&entry, 1, 0)) < 0 && errno == EINTR) {
        }
        return ready != 0;
    }
    char state = 0;
    std::uint64_t start_time = 0;
    return !process_start(process.pid, state, start_time) || state == 'Z' || state == 'X' ||
           start_time != process.start_time;
}

bool send_signal(const holder& process, int sig) {
    if (process.pidfd) {
        return ::syscall(SYS_pidfd_send_signal, process.pidfd.get(), sig, nullptr, 0) == 0;
    }
    // The pid could be taken by a later process between this check and the kill; the start
    // time narrows that to the same clock tick, the best there is without a pidfd.
    return !has_ended(process) && ::kill(process.pid, sig) == 0;
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
    return read_link_at(AT_FDCWD, path.c_str());
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
    const unique_fd proc = open_process_dir(proc_dir.c_str());
    return mount_id != UINT32_MAX && proc && any_fd_on_mount(proc.get(), mount_id);
}

bool is_maps_suit(std::string_view maps, std::uint32_t major, std::uint32_t minor) {
    if (major == 0 && minor == 0) {
        return false;
    }
    bool found = false;
    for_each_line(maps, [&](std::string_view line) {
        // address, permissions, offset, then the device as hexadecimal major:minor
        const auto device = nth_field(line, 3);
        const auto colon = device.find(':');
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        found = colon != std::string_view::npos && to_uint32_from_hex(device.substr(0, colon), a) &&
                to_uint32_from_hex(device.substr(colon + 1), b) && a == major && b == minor;
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
    const unique_fd proc = open_process_dir(proc_dir.c_str());
    return proc ? how_held_at(proc.get(), device, same_namespace) : std::nullopt;
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
    const unique_fd self_dir = open_process_dir("/proc/self");
    const auto ours = self_dir ? mount_namespace(self_dir.get()) : std::nullopt;
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
        // process this pidfd names (without a pidfd: the process of this start time).
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, found.pid, 0));
        const int error = errno;
        found.pidfd.reset(pidfd);
        char state = 0;
        if (!found.pidfd &&
            (error == ESRCH || !process_start(found.pid, state, found.start_time))) {
            continue;  // gone already
        }
        const unique_fd dir = open_process_dir((std::string("/proc/") + entry->d_name).c_str());
        if (!dir) {
            continue;
        }
        const auto theirs = mount_namespace(dir.get());
        const auto how = how_held_at(dir.get(), device, ours && theirs && *ours == *theirs);
        if (!how || has_ended(found)) {
            continue;
        }
        found.how = *how;
        std::optional<uid_t> uid;
        if (read_proc_file(dir.get(), "status", text)) {
            uid = get_status_uid(text);
        }
        struct stat st {};
        if (!uid && ::fstat(dir.get(), &st) == 0) {
            uid = st.st_uid;  // the effective uid, when the status cannot tell the real one
        }
        if (uid) {
            found.uid = *uid;
            found.user = get_user_name(*uid);
        }
        if (read_proc_file(dir.get(), "comm", text)) {
            found.command = printable(text.substr(0, text.find('\n')));
        }
        out.push_back(std::move(found));
    }
    ec.clear();
    return out;
}

}  // namespace os
