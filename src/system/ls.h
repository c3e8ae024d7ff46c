#pragma once

#include <string>
#include <vector>

namespace os {

// The names of all entries of dir, "." and ".." included, in the order the directory
// yields them; an unopenable directory gives an empty list.
std::vector<std::string> ls(const std::string& dir);

}  // namespace os
