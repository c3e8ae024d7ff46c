#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "crypto/crypto_error.h"
#include "crypto/crypto_helper.h"
#include "der_builder.h"
#include "fake_provider.h"
#include "session_peer.h"

namespace {

// 2024-01-31 23:59:59 UTC.
constexpr std::time_t kReferenceUtc = 1706745599;
const std::string kReferenceText = "20240131235959Z";

// Runs a test body under a fixed TZ and puts the previous one back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_previous = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_previous) {
            ::setenv("TZ", m_previous->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> m_previous;
};

std::optional<der::bytes> reference_container() {
    const std::filesystem::path path =
        std::filesystem::path(ZT_TEST_DATA_DIR) / "provider" / "reference_container.der";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return der::bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool is_structure_error(const std::error_code& ec) {
    return ec == crypto_error::invalid_container || ec == crypto_error::undefined_length;
}

// Offset of the first byte of the GeneralizedTime element (its tag).
std::size_t time_tag_offset(const der::bytes& container) {
    const der::bytes needle = der::gtime(kReferenceText);
    const auto it = std::search(container.begin(), container.end(), needle.begin(), needle.end());
    return static_cast<std::size_t>(it - container.begin());
}

void expect_every_truncation_fails(const der::bytes& container) {
    for (std::size_t n = 0; n < container.size(); ++n) {
        // Built with the exact size, so ASan sees any read past the end.
        const der::bytes prefix(container.begin(), container.begin() + n);
        std::error_code ec;
        EXPECT_EQ(crypto::extract_container_time(prefix, ec), 0) << "length " << n;
        EXPECT_TRUE(is_structure_error(ec)) << "length " << n << ": " << ec.message();
    }
}

TEST(ContainerWalk, ReadsCreationTimeAsLocalTime) {
    const der::bytes container = der::key_container(kReferenceText);
    const std::pair<const char*, std::time_t> zones[] = {
        {"UTC0", kReferenceUtc},
        {"EST5", kReferenceUtc + 5 * std::time_t{3600}},
        {"JST-9", kReferenceUtc - 9 * std::time_t{3600}},
    };
    for (const auto& [zone, expected] : zones) {
        ScopedTimeZone tz(zone);
        std::error_code ec = crypto_error::internal_error;
        EXPECT_EQ(crypto::extract_container_time(container, ec), expected) << zone;
        EXPECT_FALSE(ec) << zone << ": " << ec.message();
    }
}

TEST(ContainerWalk, ReadsCreationTimeWithLongFormLengths) {
    // A large iteration count and the outer length above 255 bytes use long-form lengths.
    der::bytes container = der::key_container(kReferenceText, 600000);
    ASSERT_GT(container.size(), 255u);
    ASSERT_EQ(container[1], 0x82);
    ScopedTimeZone tz("UTC0");
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), kReferenceUtc);
    EXPECT_FALSE(ec) << ec.message();
}

TEST(ContainerWalk, ReferenceContainerGivesItsCreationTime) {
    const auto container = reference_container();
    ASSERT_TRUE(container) << "tests/data/provider/reference_container.der is missing";
    ScopedTimeZone tz("UTC0");
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(*container, ec), kReferenceUtc);
    EXPECT_FALSE(ec) << ec.message();
}

TEST(ContainerWalk, ProviderContainersGiveTheirCreationTime) {
    crypto_factory f = fake::seeded(crypto_factory());
    ASSERT_TRUE(f.is_initialized());
    ScopedTimeZone tz("UTC0");
    for (const std::time_t created :
         {kReferenceUtc, std::time_t{946684799}, std::time_t{0}, std::time_t{4102444800}}) {
        const der::bytes container = peer::make_container(f, L"pw", created);
        std::error_code ec;
        EXPECT_EQ(crypto::extract_container_time(container, ec), created) << ec.message();
        expect_every_truncation_fails(container);
    }
}

TEST(ContainerWalk, IndefiniteOuterLengthIsUndefinedEncoding) {
    der::bytes container = der::key_container(kReferenceText);
    container[1] = 0x80;
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), 0);
    EXPECT_EQ(ec, crypto_error::undefined_length);
    EXPECT_EQ(ec.message(), "Undefined encoding length");
}

TEST(ContainerWalk, MoreThanFourLengthBytesAreRefused) {
    // Five length bytes whose value would still fit the buffer must not be accepted.
    der::bytes container{0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x05, 0x02, 0x01, 0x01, 0x05, 0x00};
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), 0);
    EXPECT_EQ(ec, crypto_error::undefined_length);
}

TEST(ContainerWalk, EmptyContainerIsInvalid) {
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time({}, ec), 0);
    EXPECT_EQ(ec, crypto_error::invalid_container);
}

TEST(ContainerWalk, EveryTruncationOfBuiltContainerFails) {
    expect_every_truncation_fails(der::key_container(kReferenceText));
}

TEST(ContainerWalk, EveryTruncationOfReferenceContainerFails) {
    const auto container = reference_container();
    ASSERT_TRUE(container) << "tests/data/provider/reference_container.der is missing";
    expect_every_truncation_fails(*container);
}

TEST(ContainerWalk, TruncationBehindConsistentOuterLengthFails) {
    // The outer header is re-encoded for the shorter content, so the walk gets past it and
    // must notice the cut deep inside; only cuts behind the time element leave it readable.
    const der::bytes container = der::key_container(kReferenceText);
    const std::size_t header = container[1] < 0x80 ? 2 : 2 + (container[1] - 0x80u);
    const der::bytes content(container.begin() + static_cast<std::ptrdiff_t>(header),
                             container.end());
    const std::size_t time_end =
        time_tag_offset(container) + der::gtime(kReferenceText).size() - header;
    ScopedTimeZone tz("UTC0");
    for (std::size_t n = 0; n <= content.size(); ++n) {
        const der::bytes cut = der::tlv(0x30, der::bytes(content.begin(), content.begin() + n));
        std::error_code ec;
        const std::time_t t = crypto::extract_container_time(cut, ec);
        if (n < time_end) {
            EXPECT_EQ(t, 0) << "content length " << n;
            EXPECT_TRUE(is_structure_error(ec)) << "content length " << n << ": " << ec.message();
        } else {
            EXPECT_EQ(t, kReferenceUtc) << "content length " << n;
        }
    }
}

TEST(ContainerWalk, WalkStaysInsideTheOuterElement) {
    // The outer element is cut before its time element while the bytes stay in the buffer:
    // the walk must not take them.
    const der::bytes container = der::key_container(kReferenceText);
    const std::size_t header = container[1] < 0x80 ? 2 : 2 + (container[1] - 0x80u);
    const der::bytes content(container.begin() + static_cast<std::ptrdiff_t>(header),
                             container.end());
    const std::size_t time_end =
        time_tag_offset(container) + der::gtime(kReferenceText).size() - header;
    der::bytes shortened =
        der::tlv(0x30, der::bytes(content.begin(), content.begin() + time_end - 1));
    shortened.insert(shortened.end(), content.begin() + time_end - 1, content.end());
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(shortened, ec), 0);
    EXPECT_TRUE(is_structure_error(ec)) << ec.message();
}

TEST(ContainerWalk, BytesAfterTheContainerAreIgnored) {
    der::bytes container = der::key_container(kReferenceText);
    container.insert(container.end(), {0x00, 0xFF, 0x30, 0x80});
    ScopedTimeZone tz("UTC0");
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), kReferenceUtc);
    EXPECT_FALSE(ec);
}

TEST(ContainerWalk, ElementLongerThanContainerIsRefused) {
    der::bytes container = der::key_container(kReferenceText);
    // The time element claims 0x7f bytes but the container ends long before.
    container[time_tag_offset(container) + 1] = 0x7F;
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), 0);
    EXPECT_EQ(ec, crypto_error::invalid_container);
}

TEST(ContainerWalk, WrongTagWhereTimeIsExpectedIsInvalid) {
    der::bytes container = der::key_container(kReferenceText);
    container[time_tag_offset(container)] = 0x17;  // UTCTime instead of GeneralizedTime
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), 0);
    EXPECT_EQ(ec, crypto_error::invalid_container);
    EXPECT_EQ(ec.message(), "Invalid container structure");
}

TEST(ContainerWalk, WrongTagInKeyAgreementPartIsInvalid) {
    // The nonce of the key-agreement wrap must be an OCTET STRING.
    der::bytes container = der::key_container(kReferenceText);
    const der::bytes nonce = der::octets(12, 0xA1);
    const auto it = std::search(container.begin(), container.end(), nonce.begin(), nonce.end());
    ASSERT_NE(it, container.end());
    *it = 0x03;
    std::error_code ec;
    EXPECT_EQ(crypto::extract_container_time(container, ec), 0);
    EXPECT_EQ(ec, crypto_error::invalid_container);
}

TEST(ContainerWalk, GostPartEndsAfterFirstElementOfAsymmetricKey) {
    const der::bytes container = der::key_container(kReferenceText);
    const der::bytes agreement = der::key_agreement_key();
    const der::bytes asymmetric = der::asymmetric_key();
    const auto it =
        std::search(container.begin(), container.end(), agreement.begin(), agreement.end());
    ASSERT_NE(it, container.end());
    const std::size_t start = static_cast<std::size_t>(it - container.begin());
    // The asymmetric key follows; its header (short form here) and version (3 bytes) end
    // the part.
    ASSERT_LT(asymmetric[1], 0x80);
    const std::size_t expected = agreement.size() + 2 + 3;

    std::error_code ec;
    const auto [ok, offset] =
        crypto::parse_gost_part(container.data() + start, container.data() + container.size(), ec);
    EXPECT_TRUE(ok) << ec.message();
    EXPECT_EQ(offset, expected);
}

TEST(ParseTime, FourteenDigitsGiveLocalTime) {
    ScopedTimeZone tz("UTC0");
    const std::pair<std::string, std::time_t> rows[] = {
        {"20240131235959", kReferenceUtc},
        {"20240131235959Z", kReferenceUtc},
        {"19700101000000", 0},
        {"20000229120000", 951825600},
    };
    for (const auto& [text, expected] : rows) {
        std::error_code ec = crypto_error::internal_error;
        EXPECT_EQ(crypto::parse_time(text, ec), expected) << text;
        EXPECT_FALSE(ec) << text;
    }
}

TEST(ParseTime, TextWithoutDigitsIsInvalid) {
    for (const std::string text : {"", "Z", "abcd0131235959"}) {
        std::error_code ec;
        EXPECT_EQ(crypto::parse_time(text, ec), 0) << text;
        EXPECT_EQ(ec, crypto_error::invalid_container) << text;
    }
}

TEST(ParseTime, ReadsOnlyTheGivenText) {
    // The digits after the view's end must not be read.
    ScopedTimeZone tz("UTC0");
    const std::string text = "2024013123595999";
    std::error_code ec;
    EXPECT_EQ(crypto::parse_time(std::string_view(text).substr(0, 12), ec), kReferenceUtc - 59);
    EXPECT_FALSE(ec);
}

TEST(DerPrimitives, LongFormHeaderGivesContentBounds) {
    der::bytes element = der::tlv(0x04, der::bytes(300, 0x11));
    ASSERT_EQ(element[1], 0x82);
    crypto::der_cursor cursor{element.data(), element.data() + element.size()};
    crypto::der_header header;
    std::error_code ec;
    ASSERT_TRUE(crypto::move_pointer(cursor, header, ec));
    EXPECT_EQ(header.tag, 0x04);
    EXPECT_EQ(header.content, element.data() + 4);
    EXPECT_EQ(header.content_end, element.data() + element.size());
    EXPECT_EQ(cursor.pos, header.content);
}

TEST(DerPrimitives, FailedHeaderLeavesCursorInPlace) {
    const der::bytes cases[] = {
        {0x30},                    // no length byte
        {0x30, 0x05, 0x02, 0x01},  // content shorter than its length
        {0x30, 0x82, 0x01},        // length bytes cut off
        {0x30, 0x80, 0x00, 0x00},  // indefinite length
    };
    for (const auto& bytes : cases) {
        crypto::der_cursor cursor{bytes.data(), bytes.data() + bytes.size()};
        crypto::der_header header;
        std::error_code ec;
        EXPECT_FALSE(crypto::move_pointer(cursor, header, ec));
        EXPECT_TRUE(is_structure_error(ec));
        EXPECT_EQ(cursor.pos, bytes.data());
    }
}

TEST(DerPrimitives, StepSkipsIntegersAndIdentifiersAndEntersTheRest) {
    const std::pair<der::bytes, bool> cases[] = {
        {der::integer(1000), true},
        {der::oid(der::kSha256), true},
        {der::seq({der::integer(1)}), false},
        {der::octets(3, 0), false},
    };
    for (const auto& [element, skipped] : cases) {
        crypto::der_cursor cursor{element.data(), element.data() + element.size()};
        crypto::der_header header;
        std::error_code ec;
        ASSERT_TRUE(crypto::skip_tag_02_06(cursor, header, ec));
        EXPECT_EQ(cursor.pos, skipped ? element.data() + element.size() : element.data() + 2);
    }
}

TEST(DerPrimitives, ExpectedTagMismatchIsInvalidStructure) {
    const der::bytes element = der::integer(5);
    crypto::der_cursor cursor{element.data(), element.data() + element.size()};
    std::error_code ec;
    EXPECT_FALSE(crypto::skip_and_check_tag(cursor, 0x04, true, ec));
    EXPECT_EQ(ec, crypto_error::invalid_container);
    EXPECT_EQ(cursor.pos, element.data());
    EXPECT_TRUE(crypto::skip_and_check_tag(cursor, 0x02, true, ec));
    EXPECT_EQ(cursor.pos, element.data() + element.size());
}

}  // namespace
