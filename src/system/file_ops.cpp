#include "system/file_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "system/accounts.h"

namespace os {

namespace {

bool check(int result, std::error_code& ec) noexcept {
    if (result != 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace

bool remove(const std::string& path) noexcept {
    std::error_code ec;
    return remove(path, ec);
}

bool remove(const std::string& path, std::error_code& ec) noexcept {
    return check(std::remove(path.c_str()), ec);
}

bool rename(const std::string& from, const std::string& to, std::error_code& ec) noexcept {
    return check(::rename(from.c_str(), to.c_str()), ec);
}

bool mkdir(const std::string& path, mode_t mode, std::error_code& ec) noexcept {
    return check(::mkdir(path.c_str(), mode), ec);
}

bool mkdir(const char* path, mode_t mode) noexcept {
    std::error_code ec;
    return path != nullptr && check(::mkdir(path, mode), ec);
}

bool set_mode(const std::string& path, mode_t mode) noexcept {
    std::error_code ec;
    return set_mode(path, mode, ec);
}

bool set_mode(const std::string& path, mode_t mode, std::error_code& ec) noexcept {
    if (::fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) {
        ec.clear();
        return true;
    }
    if (errno != EOPNOTSUPP) {
        return check(-1, ec);
    }
    // The C library refuses links with EOPNOTSUPP, but also everything else when /proc is
    // not mounted; only a real link is refused.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return check(-1, ec);
    }
    if (S_ISLNK(info.st_mode)) {
        ec.assign(ELOOP, std::generic_category());
        return false;
    }
    return check(::chmod(path.c_str(), mode), ec);
}

bool set_owner(const std::string& path, const std::string& user_name) {
    std::error_code ec;
    return set_owner(path, user_name, ec);
}

bool set_owner(const std::string& path, const std::string& user_name, std::error_code& ec) {
    uid_t uid = 0;
    gid_t gid = 0;
    // Never a fallback owner: uid 0 would hand the file to root and report success.
    if (!find_user_id(user_name, uid, gid, ec)) {
        return false;
    }
    return check(::lchown(path.c_str(), uid, gid), ec);
}

}  // namespace os
