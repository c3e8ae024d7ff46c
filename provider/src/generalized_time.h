#pragma once

#include <ctime>
#include <optional>
#include <string>

namespace ztcrypto_detail {

// The DER GeneralizedTime text of a UTC time, "YYYYMMDDHHMMSSZ"; empty when the year
// falls outside 1 to 9999.
std::string format_generalized_time(std::time_t t);

// The UTC time of a GeneralizedTime text in exactly that form (15 characters, valid
// calendar fields, seconds below 60); nothing for anything else.
std::optional<std::time_t> parse_generalized_time(const std::string& text);

}  // namespace ztcrypto_detail
