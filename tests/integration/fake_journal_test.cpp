// The fake journal's reading of the native protocol; a misreading would make every log
// assertion of the integration tests meaningless.

#include "testing/fake_journal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zt_testing::parse_journal_message;

std::string binary_field(const std::string& key, const std::string& value) {
    std::string out = key + "\n";
    std::uint64_t n = value.size();
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>(n & 0xFF));
        n >>= 8;
    }
    return out + value + "\n";
}

TEST(JournalProtocol, PlainFieldsAreRead) {
    const auto e = parse_journal_message(
        "MESSAGE=Unable to read config file: Success\nPRIORITY=3\nGLIB_DOMAIN=ztctld\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->message(), "Unable to read config file: Success");
    EXPECT_EQ(e->priority(), "3");
    EXPECT_EQ(e->domain(), "ztctld");
}

TEST(JournalProtocol, BinaryFieldKeepsNewlinesAndEqualSigns) {
    const auto e = parse_journal_message("PRIORITY=6\n" + binary_field("MESSAGE", "a=b\nc\n") +
                                         "GLIB_DOMAIN=ztctld\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->message(), "a=b\nc\n");
    EXPECT_EQ(e->domain(), "ztctld");
}

TEST(JournalProtocol, ValueMayBeEmptyOrHoldEqualSigns) {
    const auto e = parse_journal_message("GLIB_DOMAIN=\nMESSAGE=x=1\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->domain(), "");
    EXPECT_EQ(e->message(), "x=1");
}

TEST(JournalProtocol, MalformedMessagesAreRejected) {
    const std::string cases[] = {
        "",
        "MESSAGE=no newline",
        "=value\n",
        "MESSAGE\n\x05\x00\x00",                                       // length cut short
        "MESSAGE\n" + std::string("\x09\0\0\0\0\0\0\0", 8) + "abc\n",  // value cut short
        "MESSAGE\n" + std::string("\x01\0\0\0\0\0\0\0", 8) + "ab\n",   // no newline after value
        "\n",
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parse_journal_message(c)) << testing::PrintToString(c);
    }
}

}  // namespace
