#include "session/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::uint32_t reference(const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(::crc32(0L, data, static_cast<uInt>(length)));
}

std::vector<unsigned char> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> out(n);
    std::generate(out.begin(), out.end(), [&] { return static_cast<unsigned char>(rng()); });
    return out;
}

TEST(Crc32, CheckValueOfDigitsAndEmptyInput) {
    const char* digits = "123456789";
    EXPECT_EQ(crc32(digits, std::strlen(digits), 0, kCrc32Prefetch), 0xCBF43926u);
    EXPECT_EQ(crc32(nullptr, 0, 0, kCrc32Prefetch), 0u);
    const unsigned char byte = 0x55;
    EXPECT_EQ(crc32(&byte, 0, 0, kCrc32Prefetch), 0u);
}

// Every length from 0 to 1100 at several alignments covers the bytewise tail, the 16-byte
// slices and the switch to the 64-byte loop at 320 bytes, with every remainder after it.
TEST(Crc32, AgreesWithZlibForEveryLengthAndAlignment) {
    const auto data = random_bytes(1100 + 64, 1);
    std::mt19937 rng(2);
    for (std::size_t length = 0; length <= 1100; ++length) {
        for (std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{3},
                                   static_cast<std::size_t>(rng() % 64)}) {
            const unsigned char* p = data.data() + offset;
            ASSERT_EQ(crc32(p, length, 0, kCrc32Prefetch), reference(p, length))
                << "length " << length << " offset " << offset;
        }
    }
}

TEST(Crc32, ContinuesFromPrevious) {
    const auto data = random_bytes(2000, 4);
    for (std::size_t split : {0u, 1u, 17u, 319u, 320u, 333u, 1999u, 2000u}) {
        const std::uint32_t first = crc32(data.data(), split, 0, kCrc32Prefetch);
        EXPECT_EQ(crc32(data.data() + split, data.size() - split, first, kCrc32Prefetch),
                  reference(data.data(), data.size()))
            << "split " << split;
    }
}

// The read-ahead distance changes speed only, never the value, including distances beyond
// the end of the input.
TEST(Crc32, PrefetchDistanceDoesNotChangeValue) {
    const auto data = random_bytes(4096, 5);
    const std::uint32_t expected = reference(data.data(), data.size());
    for (std::size_t prefetch : {0u, 64u, 256u, 4095u, 100000u}) {
        EXPECT_EQ(crc32(data.data(), data.size(), 0, prefetch), expected) << prefetch;
    }
}

}  // namespace
