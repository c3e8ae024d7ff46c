#pragma once

#include <string>

namespace os {

// The running kernel's release string (uname), or an empty string when uname fails.
std::string release();

}  // namespace os
