#pragma once

#include <vector>

namespace util {

// The fixed 32 bytes this program hands to the cryptographic provider when initialising
// it; the same value on every call and every run.
std::vector<unsigned char> get_init_vector();

}  // namespace util
