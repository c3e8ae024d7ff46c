#include <gtest/gtest.h>

#include "system/util.h"

namespace {

using pieces = std::vector<std::string>;

struct split_case {
    std::string text;
    char delimiter;
    pieces expected;
};

TEST(UtilSplit, CutsLikeRepeatedGetline) {
    const split_case cases[] = {
        {"a  b", ' ', {"a", "", "b"}}, {"a,b,", ',', {"a", "b"}}, {"a,b,,", ',', {"a", "b", ""}},
        {",a", ',', {"", "a"}},        {",", ',', {""}},          {"", ',', {}},
        {"abc", ',', {"abc"}},         {"k=v=", '=', {"k", "v"}}, {"k==v", '=', {"k", "", "v"}},
    };
    for (const auto& [text, delimiter, expected] : cases) {
        EXPECT_EQ(util::split(text, delimiter), expected) << '"' << text << '"';
        EXPECT_EQ(util::split(text, delimiter, 0), expected) << '"' << text << '"';
    }
}

TEST(UtilSplit, MaxKeepsTheRestInTheLastPiece) {
    EXPECT_EQ(util::split("a,b,c", ',', 2), (pieces{"a", "b,c"}));
    EXPECT_EQ(util::split("a,b,c", ',', 1), (pieces{"a,b,c"}));
    EXPECT_EQ(util::split("a,b,c", ',', 3), (pieces{"a", "b", "c"}));
    EXPECT_EQ(util::split("a,b,c", ',', 9), (pieces{"a", "b", "c"}));
    EXPECT_EQ(util::split("a,,", ',', 2), (pieces{"a", ","}));
    EXPECT_EQ(util::split("", ',', 2), pieces{});
}

TEST(UtilSplit, StringDelimiter) {
    EXPECT_EQ(util::split("a::b::::c", std::string("::")), (pieces{"a", "b", "", "c"}));
    EXPECT_EQ(util::split("a::b::", std::string("::")), (pieces{"a", "b"}));
    EXPECT_EQ(util::split("a:b", std::string("::")), (pieces{"a:b"}));
    EXPECT_EQ(util::split(":::", std::string("::")), (pieces{"", ":"}));
    EXPECT_EQ(util::split("", std::string("::")), pieces{});
    EXPECT_EQ(util::split("abc", std::string()), (pieces{"abc"}));
}

TEST(UtilJoin, PutsDelimiterBetweenPieces) {
    EXPECT_EQ(util::join({}, '\n'), "");
    EXPECT_EQ(util::join({"a"}, '\n'), "a");
    EXPECT_EQ(util::join({"a", "", "b"}, '\n'), "a\n\nb");
    EXPECT_EQ(util::join({"", ""}, ','), ",");
    EXPECT_EQ(util::join({"a", "b", ""}, ','), "a,b,");
}

TEST(UtilJoin, UndoesSplitWithoutTrailingDelimiter) {
    for (const std::string text : {"a\n\nb", "x", "\nfirst empty", "a b  c"}) {
        const char delimiter = text.find('\n') != std::string::npos ? '\n' : ' ';
        EXPECT_EQ(util::join(util::split(text, delimiter), delimiter), text);
    }
}

TEST(UtilText, RemoveSpacesEverywhere) {
    std::string text = " a\tb\nc\rd\ve\ff g ";
    util::remove_spaces(text);
    EXPECT_EQ(text, "abcdefg");
    std::string utf8 = "\xd0\xb0 \xc2\xa0x";  // no byte of a multi-byte character is blank
    util::remove_spaces(utf8);
    EXPECT_EQ(utf8, "\xd0\xb0\xc2\xa0x");
}

TEST(UtilText, LowerChangesOnlyLetters) {
    EXPECT_EQ(util::lower("YeS"), "yes");
    EXPECT_EQ(util::lower("A-Z_09\xc3\x89"), "a-z_09\xc3\x89");
    EXPECT_EQ(util::lower(""), "");
}

TEST(UtilText, HexlifyIsLowerCaseWithoutSeparators) {
    EXPECT_EQ(util::hexlify({0x0A, 0xFF}), "0aff");
    EXPECT_EQ(util::hexlify({0x00, 0x10, 0x9B}), "00109b");
    EXPECT_EQ(util::hexlify({}), "");
}

TEST(UtilInitVector, IsFixed32Bytes) {
    const auto first = util::get_init_vector();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(util::get_init_vector(), first);
    EXPECT_NE(first, std::vector<unsigned char>(32, 0));
}

}  // namespace
