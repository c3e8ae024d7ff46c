#pragma once

#include <string>
#include <system_error>
#include <vector>

// Whole-file reading and writing. Errors are errno values in the generic category.
namespace fio {

// The whole content of path as text; an unopenable or unreadable file gives errno and an
// empty string. Files that report no size (such as /proc tables) are read to their end.
std::string read(const std::string& path, std::error_code& ec);

// The whole content of path into data (cleared first); false with errno on failure. The
// content is read straight into data, so no copy of it is left behind in freed memory.
bool read(const std::string& path, std::vector<unsigned char>& data, std::error_code& ec);

// Replaces the file at path by one holding data: written beside it under a temporary name
// and renamed over it, so that a failure at any step leaves the previous file complete. A
// new file gets mode 0600, a replaced one keeps its mode and owner. Only a regular file is
// replaced: a symbolic link gives ELOOP (it is not followed), a directory EISDIR, anything
// else EINVAL.
bool write(const std::string& path, const std::vector<unsigned char>& data, std::error_code& ec);

// Same for text.
bool write(const std::string& path, const std::string& text, std::error_code& ec);

}  // namespace fio
