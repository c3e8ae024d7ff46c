#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "crypto/crypto_error.h"
#include "crypto/crypto_helper.h"
#include "fake_provider.h"
#include "session_peer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Places in the reference container: its 4-byte outer header, the tag of the key-agreement
// nonce (an OCTET STRING) and of the creation time element (17 bytes).
constexpr std::size_t kOuterHeader = 4;
constexpr std::size_t kNonceTag = 112;
constexpr std::size_t kTimeTag = 340;
constexpr std::size_t kTimeEnd = kTimeTag + 17;

void zone(const char* name) {
    ::setenv("TZ", name, 1);
    ::tzset();
}

// Reads times under TZ "UTC0" unless a test sets another zone; the previous TZ is put back.
// m_reference is tests/data/provider/reference_container.der, made by the provider.
class ContainerWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        zone("UTC0");
        std::ifstream in(ZT_TEST_DATA_DIR "/provider/reference_container.der", std::ios::binary);
        m_reference.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_EQ(m_reference.size(), 409u) << "reference_container.der is missing or changed";
        ASSERT_EQ(m_reference[kNonceTag], 0x04);
        ASSERT_EQ(m_reference[kTimeTag], 0x18);
    }
    void TearDown() override {
        if (m_previous_zone) {
            zone(m_previous_zone->c_str());
        } else {
            ::unsetenv("TZ");
            ::tzset();
        }
    }

    const std::optional<std::string> m_previous_zone =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
    bytes m_reference;
};

bool is_structure_error(const std::error_code& ec) {
    return ec == crypto_error::invalid_container || ec == crypto_error::undefined_length;
}

// A SEQUENCE around content (shorter than 64 KiB), with a minimal length.
bytes sequence_of(const bytes& content) {
    const std::size_t n = content.size();
    bytes out{0x30};
    if (n >= 0x80) {
        out.push_back(n >= 0x100 ? 0x82 : 0x81);
    }
    if (n >= 0x100) {
        out.push_back(static_cast<std::uint8_t>(n >> 8));
    }
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// The stored time is UTC: it must not move with the zone. Bytes after the container are not
// its business, and every truncation fails (built with the exact size, so ASan sees any
// read past the end).
TEST_F(ContainerWalk, RealContainersGiveTheirTimeInEveryZoneAndEveryTruncationFails) {
    crypto_factory f = fake::seeded();
    const std::pair<bytes, std::time_t> rows[] = {
        {m_reference, peer::kCreated},
        {peer::make_container(f, L"pw", 0), 0},
        {peer::make_container(f, L"pw", 4102444800), 4102444800}};
    for (const auto& [container, created] : rows) {
        std::error_code ec = crypto_error::internal_error;
        for (const char* name : {"UTC0", "JST-9", "MSK-3", "EST5EDT"}) {
            zone(name);
            EXPECT_EQ(crypto::extract_container_time(container, ec), created) << name;
            EXPECT_FALSE(ec) << ec.message();
        }
        bytes trailing = container;
        trailing.insert(trailing.end(), {0x00, 0xFF, 0x30, 0x80});
        EXPECT_EQ(crypto::extract_container_time(trailing, ec), created);
        for (std::size_t n = 0; n < container.size(); ++n) {
            const bytes prefix(container.begin(), container.begin() + n);
            EXPECT_EQ(crypto::extract_container_time(prefix, ec), 0) << "length " << n;
            EXPECT_TRUE(is_structure_error(ec)) << "length " << n << ": " << ec.message();
        }
    }
}

TEST_F(ContainerWalk, CutInsideAConsistentOuterElementFails) {
    // The outer header is re-encoded for the shorter content, so the walk gets past it and
    // must notice the cut deep inside, also when the cut-off bytes still follow in the
    // buffer; only cuts behind the time element leave it readable.
    const bytes content(m_reference.begin() + kOuterHeader, m_reference.end());
    for (std::size_t n = 0; n <= content.size(); ++n) {
        bytes cut = sequence_of(bytes(content.begin(), content.begin() + n));
        std::error_code ec;
        if (n >= kTimeEnd - kOuterHeader) {
            EXPECT_EQ(crypto::extract_container_time(cut, ec), peer::kCreated) << n;
            continue;
        }
        EXPECT_EQ(crypto::extract_container_time(cut, ec), 0) << n;
        EXPECT_TRUE(is_structure_error(ec)) << n << ": " << ec.message();
        cut.insert(cut.end(), content.begin() + n, content.end());
        EXPECT_EQ(crypto::extract_container_time(cut, ec), 0) << n << " with the rest behind";
        EXPECT_TRUE(is_structure_error(ec)) << n << ": " << ec.message();
    }
}

TEST_F(ContainerWalk, MalformedContainersAreRefused) {
    const auto edited = [this](std::size_t at, std::uint8_t value) {
        bytes container = m_reference;
        container[at] = value;
        return container;
    };
    const std::pair<bytes, const char*> rows[] = {
        {edited(1, 0x80), "Undefined encoding length"},  // indefinite outer length
        // Five length bytes whose value would still fit the buffer.
        {{0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x05, 0x02, 0x01, 0x01, 0x05, 0x00},
         "Undefined encoding length"},
        {{}, "Invalid container structure"},
        // The time element claims more bytes than the container holds.
        {edited(kTimeTag + 1, 0x7F), "Invalid container structure"},
        {edited(kTimeTag, 0x17), "Invalid container structure"},   // UTCTime
        {edited(kNonceTag, 0x03), "Invalid container structure"},  // BIT STRING nonce
    };
    for (const auto& [container, message] : rows) {
        std::error_code ec;
        EXPECT_EQ(crypto::extract_container_time(container, ec), 0) << message;
        EXPECT_EQ(ec.message(), message) << container.size();
    }
}

TEST_F(ContainerWalk, ParseTimeReadsFourteenDigitsAsUtc) {
    zone("JST-9");
    const std::string longer = "2024013123595999";
    const std::pair<std::string_view, std::time_t> rows[] = {
        {"20240131235959", peer::kCreated},
        {"20240131235959Z", peer::kCreated},
        {"19700101000000", 0},
        {"20000229120000", 951825600},
        // Digits after the view's end must not be read.
        {std::string_view(longer).substr(0, 12), peer::kCreated - 59},
    };
    for (const auto& [text, expected] : rows) {
        std::error_code ec = crypto_error::internal_error;
        EXPECT_EQ(crypto::parse_time(text, ec), expected) << text;
        EXPECT_FALSE(ec) << text;
    }
    for (const std::string_view text : {"", "Z", "abcd0131235959"}) {
        std::error_code ec;
        EXPECT_EQ(crypto::parse_time(text, ec), 0) << text;
        EXPECT_EQ(ec, crypto_error::invalid_container) << text;
    }
}

}  // namespace
