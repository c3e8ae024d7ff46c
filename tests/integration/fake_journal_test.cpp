// The fake journal's reading of the native protocol; a misreading would make every log
// assertion of the integration tests meaningless.

#include "testing/fake_journal.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using zt_testing::parse_journal_message;

// A field in the binary form: name, newline, 64-bit little-endian length, value, newline.
std::string binary_field(const std::string& key, const std::string& value) {
    std::string out = key + "\n";
    for (std::uint64_t n = value.size(), i = 0; i < 8; ++i, n >>= 8) {
        out.push_back(static_cast<char>(n & 0xFF));
    }
    return out + value + "\n";
}

TEST(JournalProtocol, PlainAndBinaryFieldsAreRead) {
    struct row {
        std::string data, message, domain, priority;
    };
    const row rows[] = {
        {"MESSAGE=Unable to read config file: Success\nPRIORITY=3\nGLIB_DOMAIN=ztctld\n",
         "Unable to read config file: Success", "ztctld", "3"},
        {"PRIORITY=6\n" + binary_field("MESSAGE", "a=b\nc\n") + "GLIB_DOMAIN=ztctld\n", "a=b\nc\n",
         "ztctld", "6"},
        {"GLIB_DOMAIN=\nMESSAGE=x=1\n", "x=1", "", ""},
    };
    for (const auto& r : rows) {
        const auto e = parse_journal_message(r.data);
        ASSERT_TRUE(e) << ::testing::PrintToString(r.data);
        EXPECT_EQ(e->message(), r.message);
        EXPECT_EQ(e->domain(), r.domain);
        EXPECT_EQ(e->priority(), r.priority);
    }
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
