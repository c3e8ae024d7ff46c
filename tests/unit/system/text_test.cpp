#include <gtest/gtest.h>

#include "system/util.h"

namespace {

using pieces = std::vector<std::string>;

TEST(UtilSplit, CutsLikeRepeatedGetlineAndJoinPutsTheDelimiterBack) {
    const std::tuple<std::string, char, pieces> cases[] = {
        {"a  b", ' ', {"a", "", "b"}}, {"a,b,", ',', {"a", "b"}}, {"a,b,,", ',', {"a", "b", ""}},
        {",a", ',', {"", "a"}},        {",", ',', {""}},          {"", ',', {}},
        {"abc", ',', {"abc"}},         {"k=v=", '=', {"k", "v"}}, {"k==v", '=', {"k", "", "v"}},
    };
    for (const auto& [text, delimiter, expected] : cases) {
        EXPECT_EQ(util::split(text, delimiter), expected) << '"' << text << '"';
        EXPECT_EQ(util::split(text, delimiter, 0), expected) << '"' << text << '"';
        if (!text.empty() && text.back() != delimiter) {
            EXPECT_EQ(util::join(expected, delimiter), text);
        }
    }
    // A maximum keeps the rest in the last piece.
    EXPECT_EQ(util::split("a,b,c", ',', 2), (pieces{"a", "b,c"}));
    EXPECT_EQ(util::split("a,b,c", ',', 1), (pieces{"a,b,c"}));
    EXPECT_EQ(util::split("a,b,c", ',', 9), (pieces{"a", "b", "c"}));
    EXPECT_EQ(util::split("a,,", ',', 2), (pieces{"a", ","}));
    EXPECT_EQ(util::split("", ',', 2), pieces{});
    EXPECT_EQ(util::split("a::b::::c", std::string("::")), (pieces{"a", "b", "", "c"}));
    EXPECT_EQ(util::split("a::b::", std::string("::")), (pieces{"a", "b"}));
    EXPECT_EQ(util::split("a:b", std::string("::")), (pieces{"a:b"}));
    EXPECT_EQ(util::split(":::", std::string("::")), (pieces{"", ":"}));
    EXPECT_EQ(util::split("", std::string("::")), pieces{});
    EXPECT_EQ(util::split("abc", std::string()), (pieces{"abc"}));
    EXPECT_EQ(util::join({"", ""}, ','), ",");
    EXPECT_EQ(util::join({"a", "b", ""}, ','), "a,b,");
    EXPECT_EQ(util::join({}, '\n'), "");
}

TEST(UtilText, RemoveSpacesLowerAndHexlify) {
    std::string text = " a\tb\nc\rd\ve\ff g ";
    util::remove_spaces(text);
    EXPECT_EQ(text, "abcdefg");
    std::string utf8 = "\xd0\xb0 \xc2\xa0x";  // no byte of a multi-byte character is blank
    util::remove_spaces(utf8);
    EXPECT_EQ(utf8, "\xd0\xb0\xc2\xa0x");
    EXPECT_EQ(util::lower("YeS-\xc3\x89"), "yes-\xc3\x89");
    EXPECT_EQ(util::hexlify({0x00, 0x0A, 0xFF, 0x9B}), "000aff9b");
    EXPECT_EQ(util::hexlify({}), "");
}

}  // namespace
