#pragma once

#include <string>
#include <system_error>

namespace os {

// True when path names something stat() can reach (a dangling link is false); a null
// path is false.
bool exists(const char* path) noexcept;
bool exists(const std::string& path) noexcept;

// Same, and the reason it is not reachable as errno in the system category.
bool exists(const std::string& path, std::error_code& ec) noexcept;

}  // namespace os
