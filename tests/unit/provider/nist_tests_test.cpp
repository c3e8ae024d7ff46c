#include "nist_tests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace ztcrypto_detail::nist {
namespace {

Bits bits_of(const std::string& text) {
    Bits bits(text.size());
    std::transform(text.begin(), text.end(), bits.begin(), [](char c) { return c == '1'; });
    return bits;
}

// The worked examples of NIST SP 800-22, section 2.
const std::string kHundredBits =
    "11001001000011111101101010100010001000010110100011"
    "00001000110100110001001100011001100010100010111000";
const std::string kLongestRunExample =
    "11001100000101010110110001001100111000000000001001"
    "00110101010001000100111101011010000000110101111100"
    "1100111001101101100010110010";

TEST(NistTests, PValuesMatchTheStandardsExamples) {
    using PValue = std::function<double(const Bits&)>;
    const struct {
        const char* name;
        PValue test;
        std::string bits;
        double p;
    } cases[] = {
        {"frequency", frequency, "1011010101", 0.527089},
        {"frequency", frequency, kHundredBits, 0.109599},
        {"block 3", [](const Bits& b) { return block_frequency(b, 3); }, "0110011010", 0.801252},
        {"block 10", [](const Bits& b) { return block_frequency(b, 10); }, kHundredBits, 0.706438},
        {"runs", runs, "1001101011", 0.147232},
        {"runs", runs, kHundredBits, 0.500798},
        {"longest run", longest_run_of_ones, kLongestRunExample, 0.180609},
        {"cusum", [](const Bits& b) { return cumulative_sums(b, false); }, "1011010111", 0.4116588},
        {"cusum", [](const Bits& b) { return cumulative_sums(b, false); }, kHundredBits, 0.219194},
        {"cusum back", [](const Bits& b) { return cumulative_sums(b, true); }, kHundredBits,
         0.114866},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(c.test(bits_of(c.bits)), c.p, 1e-6) << c.name << " of " << c.bits;
    }
}

TEST(NistTests, UnmetPrerequisitesGiveZeroAndBitsAreMostSignificantFirst) {
    EXPECT_EQ(runs(Bits(100, 1)), 0.0);                 // frequency prerequisite
    EXPECT_EQ(longest_run_of_ones(Bits(127, 1)), 0.0);  // fewer than 128 bits
    EXPECT_EQ(to_bits({0x80, 0x01}), bits_of("1000000000000001"));
}

TEST(NistTests, UpperIncompleteGammaMatchesClosedForms) {
    for (double x : {0.0, 0.1, 1.0, 2.5, 10.0, 40.0}) {
        EXPECT_NEAR(igamc(1.0, x), std::exp(-x), 1e-12) << x;
        EXPECT_NEAR(igamc(0.5, x), std::erfc(std::sqrt(x)), 1e-12) << x;
        EXPECT_NEAR(igamc(2.0, x), (1.0 + x) * std::exp(-x), 1e-12) << x;
    }
}

TEST(NistTests, BlockLengthKeepsFewerThanAHundredBlocks) {
    EXPECT_EQ(block_frequency_length(256), 20u);
    for (std::size_t n : {128u, 2000u, 4096u, 100000u}) {
        EXPECT_GE(block_frequency_length(n), 20u);
        EXPECT_LT(n / block_frequency_length(n), 100u) << n;
    }
}

}  // namespace
}  // namespace ztcrypto_detail::nist
