#pragma once

#include <string>
#include <vector>

namespace util {

// The pieces with delimiter between each two of them; an empty list gives an empty text.
std::string join(const std::vector<std::string>& pieces, char delimiter);

}  // namespace util
