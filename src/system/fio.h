#pragma once

#include <string>
#include <system_error>
#include <vector>

// Whole-file reading and writing. Errors are errno values in the generic category.
namespace fio {

// The whole content of path as text; an unopenable or unreadable file gives errno and an
// empty string. Files that report no size (such as /proc tables) are read to their end.
std::string read(const std::string& path, std::error_code& ec);

// The whole content of path into data (cleared first); false with errno on failure.
bool read(const std::string& path, std::vector<unsigned char>& data, std::error_code& ec);

// Replaces the content of path by data, creating the file with mode 0600 if needed (an
// existing file keeps its mode); false with errno when the file cannot be opened or not all
// of the data reaches it.
bool write(const std::string& path, const std::vector<unsigned char>& data, std::error_code& ec);

// Same for text.
bool write(const std::string& path, const std::string& text, std::error_code& ec);

}  // namespace fio
