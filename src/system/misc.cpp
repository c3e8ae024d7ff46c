#include "system/misc.h"

#include <sys/stat.h>

#include <algorithm>

#include "daemon/ztctl_error.h"
#include "dbus/conf_generator.h"

namespace misc {

namespace {

// "ru.quorvex." is put before the name in the bus name that the policy file carries.
constexpr std::size_t kBusNamePrefix = sizeof("ru.quorvex.") - 1;

bool exists(const std::string& path) noexcept {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string build_mount_dir(const std::string& user) {
    return std::string(kMountRoot) + "/" + user;
}

bool is_safe_user_name(const std::string& name) noexcept {
    if (name.empty() || name.size() > conf_generator::max_name_length - kBusNamePrefix ||
        name.front() == '.' || name.front() == '-') {
        return false;
    }
    for (const unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '<' || c == '>' || c == '&' || c == '"' ||
            c == '\'') {
            return false;
        }
    }
    return true;
}

bool check_disk_paths(const std::string& path, const std::string& mount_dir, std::error_code& ec) {
    if (path.empty() || mount_dir.empty()) {
        ec = ztctl_error::disk_not_created;
        return false;
    }
    if (!exists(path)) {
        ec = ztctl_error::disk_not_exist;
        return false;
    }
    if (!exists(mount_dir)) {
        ec = ztctl_error::mount_directory_not_exist;
        return false;
    }
    ec.clear();
    return true;
}

bool check_mount_directory(const std::string& path, uid_t owner, std::error_code& ec) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        (st.st_uid != 0 && st.st_uid != owner)) {
        ec = ztctl_error::mount_directory_not_exist;
        return false;
    }
    ec.clear();
    return true;
}

bool check_container_path(const std::string& path, std::error_code& ec) {
    ec = ztctl_error::invalid_request_format;
    // The kernel reads a path only up to its first NUL: a "/root/..\0" would pass the
    // component test below and still name "/".
    if (path.size() < 2 || path.front() != '/' || path.back() == '/' ||
        path.find('\0') != std::string::npos) {
        return false;
    }
    std::string directory;
    for (std::size_t start = 1; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (end == path.size()) {
            break;  // the file itself, made by the creation
        }
        directory += "/" + part;
        struct stat st {};
        if (::lstat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
            (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return false;
        }
        start = end + 1;
    }
    struct stat root {};
    if (::lstat("/", &root) != 0 || root.st_uid != 0 || (root.st_mode & (S_IWGRP | S_IWOTH))) {
        return false;
    }
    ec.clear();
    return true;
}

bool is_uuid_equal(const Uuid& uuid, const std::string& text) noexcept {
    Uuid parsed;
    return parsed.parse(text) && parsed == uuid;
}

}  // namespace misc
