#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>

#include "system/uuid.h"

// Checks that the handlers of accounts and disks share: names, mount directories and the
// disk's files.
namespace misc {

// The root of the mount directories.
inline constexpr const char* kMountRoot = "/zt";

// The mount directory of user: the root, "/", then the name.
std::string build_mount_dir(const std::string& user);

// Whether name may become an account of the service: not empty, short enough for its bus
// policy file, and free of "/", NUL, control characters, the XML-special characters
// <>&"' and a leading "." or "-". The name lands in file names, in an XML attribute and
// on command lines, so anything else is refused rather than escaped.
bool is_safe_user_name(const std::string& name) noexcept;

// Either string empty: "Disk not created" (8197); no container file at path: "Disk doesn't
// exist" (8199); no mount directory: "Mounted directory doesn't exist" (8203). Existence is
// a successful stat.
bool check_disk_paths(const std::string& path, const std::string& mount_dir, std::error_code& ec);

// Whether path is a real directory, not a symbolic link, owned by root or by owner: a
// mount directory that anyone else could have planted or swapped is never used. Missing or
// not so: "Mounted directory doesn't exist" (8203).
bool check_mount_directory(const std::string& path, uid_t owner, std::error_code& ec);

// Whether a container file may be created at path by root: an absolute path without "."
// or ".." components whose every directory is a real directory (no link) of root that no
// one else may write to, so that no other user can swap the file between its creation and
// its use. "Invalid request format" (8196) otherwise.
bool check_container_path(const std::string& path, std::error_code& ec);

// False when text is not a UUID (either case); otherwise whether it denotes uuid.
bool is_uuid_equal(const Uuid& uuid, const std::string& text) noexcept;

}  // namespace misc
