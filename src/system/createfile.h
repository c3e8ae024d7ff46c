#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>

namespace os {

// Creates path as a new file (never an existing one, never through a symbolic link) with
// mode 0600 and reserves size bytes for it. An open failure gives errno, a reservation
// failure the reservation's result, both in the system category. A file that was created
// but could not be reserved is left in place for the caller to remove.
bool create_file(const std::string& path, off_t size, std::error_code& ec);

}  // namespace os
