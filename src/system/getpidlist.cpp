#include "system/getpidlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>

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

std::string read_link(const std::string& path) {
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    return n > 0 && static_cast<std::size_t>(n) < sizeof target
               ? std::string(target, static_cast<std::size_t>(n))
               : std::string();
}

template <typename T>
bool parse_number(std::string_view text, T& out, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The whitespace-separated fields of a line.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    for (std::size_t i = 0; i < line.size();) {
        const auto start = line.find_first_not_of(" \t", i);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = std::min(line.find_first_of(" \t", start), line.size());
        out.push_back(line.substr(start, end - start));
        i = end;
    }
    return out;
}

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

std::string unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        unsigned value = 0;
        if (field[i] == '\\' && i + 3 < field.size() &&
            parse_number(field.substr(i + 1, 3), value, 8)) {
            out += static_cast<char>(value);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool digits(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}

struct dir_closer {
    void operator()(DIR* d) const noexcept { ::closedir(d); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

bool holds_open_file(const std::string& proc, std::uint32_t mount_id) {
    const dir_ptr dir(::opendir((proc + "/fdinfo").c_str()));
    if (!dir || mount_id == UINT32_MAX) {
        return false;
    }
    std::string text;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (digits(entry->d_name) && read_text(proc + "/fdinfo/" + entry->d_name, text) &&
            fdinfo_mount_id(text) == mount_id) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool parse_device_numbers(std::string_view text, std::uint32_t& major, std::uint32_t& minor) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    const auto colon = text.find(':');
    return colon != std::string_view::npos && parse_number(text.substr(0, colon), major) &&
           parse_number(text.substr(colon + 1), minor);
}

std::uint32_t find_mount_id(std::string_view mountinfo, std::uint32_t major, std::uint32_t minor) {
    const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
    std::uint32_t id = UINT32_MAX;
    for_each_line(mountinfo, [&](std::string_view line) {
        const auto f = fields(line);
        return f.size() > 2 && f[2] == wanted && parse_number(f[0], id);
    });
    return id;
}

std::string find_mount_dir(std::string_view mounts, const std::string& device_path) {
    std::string dir;
    for_each_line(mounts, [&](std::string_view line) {
        const auto f = fields(line);
        if (f.size() > 1 && unescape(f[0]) == device_path) {
            dir = unescape(f[1]);
            return true;
        }
        return false;
    });
    return dir;
}

bool is_within(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.compare(0, dir.size(), dir) != 0) {
        return false;
    }
    return path.size() == dir.size() || dir.back() == '/' || path[dir.size()] == '/';
}

std::uint32_t fdinfo_mount_id(std::string_view fdinfo) {
    std::uint32_t id = UINT32_MAX;
    for_each_line(fdinfo, [&](std::string_view line) {
        constexpr std::string_view key = "mnt_id:";
        if (line.substr(0, key.size()) != key) {
            return false;
        }
        const auto f = fields(line.substr(key.size()));
        if (f.empty() || !parse_number(f[0], id)) {
            id = UINT32_MAX;
        }
        return true;
    });
    return id;
}

bool maps_device(std::string_view maps, std::uint32_t major, std::uint32_t minor) {
    bool found = false;
    for_each_line(maps, [&](std::string_view line) {
        const auto f = fields(line);
        if (f.size() < 4) {
            return false;
        }
        const auto colon = f[3].find(':');
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        found = colon != std::string_view::npos && parse_number(f[3].substr(0, colon), a, 16) &&
                parse_number(f[3].substr(colon + 1), b, 16) && a == major && b == minor &&
                (a != 0 || b != 0);
        return found;
    });
    return found;
}

std::vector<holder> get_pid_list(const std::string& device_path, std::error_code& ec,
                                 bool* no_mount_line) {
    dev_info device;
    constexpr std::string_view prefix = "/dev/";
    device.name =
        device_path.rfind(prefix, 0) == 0 ? device_path.substr(prefix.size()) : device_path;
    std::string text;
    if (device.name.find('/') != std::string::npos ||
        !read_text("/sys/block/" + device.name + "/dev", text) ||
        !parse_device_numbers(text, device.major, device.minor)) {
        ec = {errno != 0 ? errno : ENOENT, std::generic_category()};
        return {};
    }
    if (read_text("/proc/self/mountinfo", text)) {
        device.mount_id = find_mount_id(text, device.major, device.minor);
    }
    if (!read_text("/proc/self/mounts", text)) {
        ec = {errno, std::generic_category()};
        return {};
    }
    device.mount_dir = find_mount_dir(text, device_path);
    if (no_mount_line != nullptr) {
        *no_mount_line = device.mount_dir.empty();
    }

    const dir_ptr proc(::opendir("/proc"));
    if (!proc) {
        ec = {errno, std::generic_category()};
        return {};
    }
    std::vector<holder> out;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc.get())) {
        if (!digits(entry->d_name)) {
            continue;
        }
        const std::string dir = std::string("/proc/") + entry->d_name;
        holder found;
        if (!parse_number(std::string_view(entry->d_name), found.pid) || found.pid == self) {
            continue;
        }
        // Opened before the tests: what is tested is then the process this pidfd names.
        found.pidfd.reset(static_cast<int>(::syscall(SYS_pidfd_open, found.pid, 0)));
        if (!found.pidfd) {
            continue;  // gone already
        }
        if (is_within(read_link(dir + "/cwd"), device.mount_dir)) {
            found.how = hold::working_directory;
        } else if (holds_open_file(dir, device.mount_id)) {
            found.how = hold::open_file;
        } else if (read_text(dir + "/maps", text) &&
                   maps_device(text, device.major, device.minor)) {
            found.how = hold::mapping;
        } else {
            continue;
        }
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0) {
            found.uid = st.st_uid;
        }
        if (read_text(dir + "/comm", text)) {
            found.command = text.substr(0, text.find('\n'));
        }
        out.push_back(std::move(found));
    }
    ec.clear();
    return out;
}

}  // namespace os
