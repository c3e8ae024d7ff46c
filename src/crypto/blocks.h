#pragma once

#include <cstddef>
#include <limits>

namespace crypto {

// Stores in out the smallest multiple of block that is at least n. Returns false (out 0) when
// block is 0 or the result does not fit in std::size_t.
inline bool round_up_to_blocks(std::size_t n, std::size_t block, std::size_t& out) noexcept {
    out = 0;
    if (block == 0) {
        return false;
    }
    const std::size_t blocks = n / block + (n % block != 0 ? 1 : 0);
    if (blocks > std::numeric_limits<std::size_t>::max() / block) {
        return false;
    }
    out = blocks * block;
    return true;
}

// True when the n bytes at a and b are equal; the time taken does not depend on where they
// differ, so a forged tag reveals nothing about the right one.
inline bool equal_in_constant_time(const unsigned char* a, const unsigned char* b,
                                   std::size_t n) noexcept {
    unsigned char difference = 0;
    for (std::size_t i = 0; i < n; ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace crypto
