#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>

// Changes to single file-system entries. Errors are errno in the generic category.
namespace os {

// Removes a file or an empty directory.
bool remove(const std::string& path) noexcept;
bool remove(const std::string& path, std::error_code& ec) noexcept;

// Renames from to to, replacing an existing to.
bool rename(const std::string& from, const std::string& to, std::error_code& ec) noexcept;

// Creates one directory with exactly mode (the daemon runs with umask 0).
bool mkdir(const std::string& path, mode_t mode, std::error_code& ec) noexcept;
bool mkdir(const char* path, mode_t mode) noexcept;

// Sets the permission bits of path. A symbolic link is refused rather than followed, so
// that a link planted in a user's directory cannot redirect the change to another file.
bool set_mode(const std::string& path, mode_t mode) noexcept;
bool set_mode(const std::string& path, mode_t mode, std::error_code& ec) noexcept;

// Gives path to the uid and gid of user_name. An unknown name gives ENOENT and leaves path
// as it was. A symbolic link itself is changed, never the file it points to.
bool set_owner(const std::string& path, const std::string& user_name);
bool set_owner(const std::string& path, const std::string& user_name, std::error_code& ec);

}  // namespace os
