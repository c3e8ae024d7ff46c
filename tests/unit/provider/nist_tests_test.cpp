#include "nist_tests.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace ztcrypto_detail::nist {
namespace {

Bits bits_of(const std::string& text) {
    Bits bits;
    for (char c : text) {
        bits.push_back(c == '1' ? 1 : 0);
    }
    return bits;
}

// The worked examples of NIST SP 800-22, section 2.
const std::string kTenBits = "1011010101";
const std::string kHundredBits =
    "11001001000011111101101010100010001000010110100011"
    "00001000110100110001001100011001100010100010111000";
const std::string kLongestRunExample =
    "11001100000101010110110001001100111000000000001001"
    "00110101010001000100111101011010000000110101111100"
    "1100111001101101100010110010";

TEST(NistTests, FrequencyMatchesTheStandardsExamples) {
    EXPECT_NEAR(frequency(bits_of(kTenBits)), 0.527089, 1e-6);
    EXPECT_NEAR(frequency(bits_of(kHundredBits)), 0.109599, 1e-6);
}

TEST(NistTests, BlockFrequencyMatchesTheStandardsExamples) {
    EXPECT_NEAR(block_frequency(bits_of("0110011010"), 3), 0.801252, 1e-6);
    EXPECT_NEAR(block_frequency(bits_of(kHundredBits), 10), 0.706438, 1e-6);
}

TEST(NistTests, RunsMatchesTheStandardsExamples) {
    EXPECT_NEAR(runs(bits_of("1001101011")), 0.147232, 1e-6);
    EXPECT_NEAR(runs(bits_of(kHundredBits)), 0.500798, 1e-6);
}

TEST(NistTests, RunsFailsTheFrequencyPrerequisite) {
    EXPECT_EQ(runs(Bits(100, 1)), 0.0);
}

TEST(NistTests, LongestRunMatchesTheStandardsExample) {
    ASSERT_EQ(kLongestRunExample.size(), 128u);
    EXPECT_NEAR(longest_run_of_ones(bits_of(kLongestRunExample)), 0.180609, 1e-6);
    EXPECT_EQ(longest_run_of_ones(Bits(127, 1)), 0.0);
}

TEST(NistTests, CumulativeSumsMatchTheStandardsExamples) {
    EXPECT_NEAR(cumulative_sums(bits_of("1011010111"), false), 0.4116588, 1e-6);
    EXPECT_NEAR(cumulative_sums(bits_of(kHundredBits), false), 0.219194, 1e-6);
    EXPECT_NEAR(cumulative_sums(bits_of(kHundredBits), true), 0.114866, 1e-6);
}

TEST(NistTests, UpperIncompleteGammaMatchesClosedForms) {
    for (double x : {0.0, 0.1, 1.0, 2.5, 10.0, 40.0}) {
        EXPECT_NEAR(igamc(1.0, x), std::exp(-x), 1e-12) << x;
        EXPECT_NEAR(igamc(0.5, x), std::erfc(std::sqrt(x)), 1e-12) << x;
        EXPECT_NEAR(igamc(2.0, x), (1.0 + x) * std::exp(-x), 1e-12) << x;
    }
}

TEST(NistTests, BytesBecomeBitsMostSignificantFirst) {
    EXPECT_EQ(to_bits({0x80, 0x01}), bits_of("1000000000000001"));
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
