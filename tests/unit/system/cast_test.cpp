#include "system/cast.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace {

using cast::bytes;

TEST(CastIntegers, LittleEndianWhateverTheHost) {
    const bytes u64 = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(cast::to_vector<unsigned long>(0x0102030405060708ul), u64);
    EXPECT_EQ(cast::to_integer<unsigned long>(u64), 0x0102030405060708ul);
    EXPECT_EQ(cast::to_vector<std::uint16_t>(0x5A4Du), (bytes{0x4D, 0x5A}));
    EXPECT_EQ(cast::to_vector<int>(-2), (bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(cast::to_integer<int>(bytes{0xFE, 0xFF, 0xFF, 0xFF}), -2);
    EXPECT_EQ(cast::to_vector(true), bytes{1});
    for (long v : {std::numeric_limits<long>::min(), -1L, 0L, std::numeric_limits<long>::max()}) {
        EXPECT_EQ(cast::to_integer<long>(cast::to_vector(v)), v);
    }
}

TEST(CastIntegers, WrongLengthReadsAsZero) {
    // A 64-bit field sent as 4 bytes must not be taken for the 4-byte value.
    EXPECT_EQ(cast::to_integer<unsigned long>(bytes{1, 0, 0, 0}), 0ul);
    EXPECT_EQ(cast::to_integer<unsigned long>(bytes(9, 1)), 0ul);
    EXPECT_EQ(cast::to_integer<unsigned long>(bytes{}), 0ul);
    EXPECT_EQ(cast::to_integer<int>(bytes(8, 1)), 0);
    EXPECT_EQ(cast::to_integer<std::uint16_t>(bytes{7}), 0u);
    // A flag is one byte, true when not zero.
    EXPECT_TRUE(cast::to_integer<bool>(bytes{2}));
    EXPECT_FALSE(cast::to_integer<bool>(bytes{0}));
    EXPECT_FALSE(cast::to_integer<bool>(bytes{1, 1}));
}

TEST(CastNarrowStrings, KeepEveryByteIncludingZeros) {
    const std::string text("a\0b\xff", 4);
    const bytes raw{'a', 0, 'b', 0xFF};
    EXPECT_EQ(cast::to_vector(text), raw);
    EXPECT_EQ(cast::to_string(raw), text);
    EXPECT_EQ(cast::to_vector("ab\0cd"), (bytes{'a', 'b'}));
    EXPECT_EQ(cast::to_vector(static_cast<const char*>(nullptr)), bytes{});
    EXPECT_EQ(cast::to_vector(nullptr, 5), bytes{});
}

TEST(CastWideStrings, Utf8RoundTripAndInvalidTextRaisesRangeError) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"pa\xc3\x9f w\xd0\xbe\xe2\x82\xac", {L'p', L'a', 0xDF, L' ', L'w', 0x43E, 0x20AC}},
        // Beyond the basic plane: one whole code point, as the provider takes passwords.
        {"\xf0\x9f\x94\x91", {static_cast<wchar_t>(0x1F511)}},
        {"\xef\xbb\xbf"
         "a",
         {static_cast<wchar_t>(0xFEFF), L'a'}},  // a byte-order mark is kept
        {"", {}},
    };
    for (const auto& [utf8, wide] : cases) {
        EXPECT_EQ(cast::to_wstring(utf8), wide);
        EXPECT_EQ(cast::to_string(wide), utf8);
    }
    // Truncated tails, overlong forms and encoded surrogates must not be dropped or passed on.
    for (const char* bad : {"\xff", "abc\xc3", "\x80", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80",
                            "\xf4\x90\x80\x80", "a\xc3(b"}) {
        EXPECT_THROW((void)cast::to_wstring(bad), std::range_error) << bad;
    }
    const std::wstring unencodable[] = {
        {static_cast<wchar_t>(0x110000)},
        {static_cast<wchar_t>(0xD800)},
        {L'a', static_cast<wchar_t>(0xD83D)},
        {static_cast<wchar_t>(0xDC00), L'a'},
        {static_cast<wchar_t>(0xD83D), L'a'},
        // A surrogate pair is not read as the character it would stand for in UTF-16.
        {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDD11)},
    };
    for (const auto& text : unencodable) {
        EXPECT_THROW((void)cast::to_string(text), std::range_error);
    }
}

}  // namespace
