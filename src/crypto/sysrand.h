#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace randgen {

// Returns n pseudo-random bytes from a local MT19937-64 generator seeded from the system
// random device and the clock, or an empty vector when n is not a multiple of 8. Only good
// enough to seed the provider; never a key on its own.
std::vector<std::uint8_t> system(std::size_t n);

// The deterministic half of system(): n / 8 values of MT19937-64 seeded with seed, each stored
// as 8 little-endian bytes; empty when n is not a multiple of 8.
std::vector<std::uint8_t> from_seed(std::uint64_t seed, std::size_t n);

}  // namespace randgen
