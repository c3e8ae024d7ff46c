#pragma once

#include <vector>

#include <string>
#include <system_error>

namespace sys {

// Formats device with "/sbin/mkfs." followed by fs (arguments: device, "-q"; output
// discarded; the daemon's environment passed on). True when the tool exits with 0.
// Failure to run it gives the matching errno (generic category; EIO when GLib says
// nothing); a non-zero exit code is reported as that code (generic category); a tool that
// is killed or stopped gives ECANCELED, so a failure never comes without an error.
bool mkfs(const std::string& device, const std::string& fs, std::error_code& ec);

// The same for the formatting program at tool (an absolute path); mkfs passes
// "/sbin/mkfs." followed by fs.
bool run_mkfs(const std::string& tool, const std::string& device, std::error_code& ec);

// The file systems the formatting tools in dir can make: every entry whose name contains
// "mkfs.", with that text removed ("mkfs.ext4" gives "ext4").
std::vector<std::string> get_supported_fs_list(const std::string& dir = "/sbin");

// True when fs is exactly one of get_supported_fs_list(dir).
bool check_support_fs(const std::string& fs, const std::string& dir = "/sbin");

}  // namespace sys
