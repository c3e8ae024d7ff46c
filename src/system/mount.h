#pragma once

#include <string>

namespace sys {

// Mounts the file system of type fstype on source at target with the flags nosuid, nodev and
// dirsync (and read-only when read_only), no option string, by the kernel alone (no mount
// helper program is run). The target's last component is never a followed link: target is
// opened as a directory without following one, and the mount goes onto that very directory
// through its descriptor, so a link put in its place afterwards is not followed either.
// 0 on success; the errno of the mount system call when it fails, or of the opening of the
// target (ELOOP for a link, ENOTDIR for anything else that is not a directory); a negative
// value for other failures; ENOMEM (12) when no mount context can be made.
int mount(const std::string& source, const std::string& target, const std::string& fstype,
          bool read_only);

// Unmounts target; when that fails, once more with a read-only remount allowed as the
// fallback, then a last plain try whose result is returned, with the meaning of mount()'s
// (ENOMEM also when the target cannot be set). A target that is a link is refused with ELOOP
// before anything is tried.
int unmount(const std::string& target);

}  // namespace sys
