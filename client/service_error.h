#pragma once

#include <string>
#include <system_error>

namespace client {

// The error_code for an error that the service reported as (value, message, category name).
// A category the library links (the service's own "ztctl", "transfer", "network", "crypto",
// "database", "config manager", and "generic" / "system" for errno values) gives an
// error_code of that very category, so it compares equal to the enumerations and its
// message is translated here. Any other name gives a "remote" category of that name whose
// message for the value is the text the service sent. A value of 0 gives an empty code.
std::error_code service_error(int value, const std::string& category, const std::string& message);

// True when ec belongs to a category made by service_error for a name the library does not
// know.
bool is_remote(const std::error_code& ec) noexcept;

}  // namespace client
