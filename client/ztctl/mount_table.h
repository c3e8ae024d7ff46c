#pragma once

#include <string>
#include <string_view>

namespace ztctl {

// The source of the file system mounted on directory as a /proc/self/mounts text shows it:
// the first field of the last line whose mount point (octal escapes such as "\040" decoded)
// is directory, when that source is a device path ("/dev/..."); empty otherwise. The last
// line is the mount that is seen there when several are stacked.
std::string mounted_device(std::string_view mounts, const std::string& directory);

}  // namespace ztctl
