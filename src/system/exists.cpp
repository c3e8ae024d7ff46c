#include "system/exists.h"

#include <sys/stat.h>

#include <cerrno>

namespace os {

bool exists(const char* path) noexcept {
    struct stat info {};
    return path != nullptr && ::stat(path, &info) == 0;
}

bool exists(const std::string& path) noexcept {
    return exists(path.c_str());
}

bool exists(const std::string& path, std::error_code& ec) noexcept {
    ec.clear();
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        ec.assign(errno, std::system_category());
        return false;
    }
    return true;
}

}  // namespace os
