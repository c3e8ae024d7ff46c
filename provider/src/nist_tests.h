#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ztcrypto_detail::nist {

// A bit sequence, one 0 or 1 per element.
using Bits = std::vector<std::uint8_t>;

// The bits of `bytes`, most significant bit of each byte first.
Bits to_bits(const std::vector<std::uint8_t>& bytes);

// P-values of the NIST SP 800-22 tests used by the "nist" checker. Each takes the whole
// sequence; a sequence the test cannot judge gives 0.
double frequency(const Bits& bits);
double block_frequency(const Bits& bits, std::size_t block);
// 0 when the sequence fails the frequency prerequisite of the runs test.
double runs(const Bits& bits);
// Block length and categories follow the sequence length (8, 128 or 10000 bits per block);
// 0 below 128 bits.
double longest_run_of_ones(const Bits& bits);
// Forward (`reverse` false) or backward cumulative sums.
double cumulative_sums(const Bits& bits, bool reverse);

// The block length the checker uses for the block frequency test of n bits: at least 20,
// and long enough for fewer than 100 blocks.
std::size_t block_frequency_length(std::size_t n);

// The regularized upper incomplete gamma function Q(a, x), a > 0, x >= 0.
double igamc(double a, double x);

}  // namespace ztcrypto_detail::nist
