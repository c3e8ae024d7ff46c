#include "session/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Every length from 0 to 1100 at several alignments covers the bytewise tail, the 16-byte
// slices and the switch to the 64-byte loop at 320 bytes, with every remainder after it.
// Each sum is also taken in two parts, and the read-ahead distance (some beyond the end of
// the input) changes speed only, never the value.
TEST(Crc32, AgreesWithZlibForEveryLengthAlignmentSplitAndReadAhead) {
    std::mt19937 rng(1);
    std::vector<unsigned char> data(1100 + 64);
    std::generate(data.begin(), data.end(), [&] { return static_cast<unsigned char>(rng()); });
    const std::size_t read_ahead[] = {kCrc32Prefetch, 0, 64, 4095, 100000};
    EXPECT_EQ(crc32(nullptr, 0, 0, kCrc32Prefetch), 0u);
    for (std::size_t length = 0; length <= 1100; ++length) {
        const std::size_t prefetch = read_ahead[length % std::size(read_ahead)];
        for (std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{3},
                                   static_cast<std::size_t>(rng() % 64)}) {
            const unsigned char* p = data.data() + offset;
            const auto expected =
                static_cast<std::uint32_t>(::crc32(0L, p, static_cast<uInt>(length)));
            ASSERT_EQ(crc32(p, length, 0, prefetch), expected)
                << "length " << length << " offset " << offset;
            const std::size_t split = rng() % (length + 1);
            ASSERT_EQ(crc32(p + split, length - split, crc32(p, split, 0, prefetch), prefetch),
                      expected)
                << "length " << length << " split " << split;
        }
    }
}

}  // namespace
