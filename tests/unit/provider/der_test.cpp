#include "der.h"

#include <gtest/gtest.h>

#include "ztcrypto/exception.h"

namespace ztcrypto_detail::der {
namespace {

Reader reader_of(const Bytes& bytes) {
    return Reader(bytes.data(), bytes.data() + bytes.size(), "test");
}

// The writer's minimal forms are checked by the strict reader, here and in every container.
TEST(DerReader, ReadsWhatTheWriterWrites) {
    const Bytes encoded =
        sequence({integer(600000), integer(0x80), octet_string(Bytes(200).data(), 200)});
    Reader outer = reader_of(encoded);
    Reader inner = outer.enter(kSequence);
    outer.expect_end();
    EXPECT_EQ(inner.integer(), 600000u);
    EXPECT_EQ(inner.integer(), 0x80u);
    EXPECT_EQ(inner.octets(200), Bytes(200));
    inner.expect_end();
}

struct BadInput {
    const char* what;
    Bytes bytes;
};

class DerReaderRefuses : public ::testing::TestWithParam<BadInput> {};

TEST_P(DerReaderRefuses, MalformedElement) {
    Reader reader = reader_of(GetParam().bytes);
    try {
        reader.enter(kSequence).integer();
        FAIL() << "accepted " << GetParam().what;
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), Exception::malformed_data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DerReaderRefuses,
    ::testing::Values(
        BadInput{"empty input", {}}, BadInput{"a lone tag", {0x30}},
        BadInput{"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}},
        BadInput{"long form for a short length", {0x30, 0x81, 0x03, 0x02, 0x01, 0x01}},
        BadInput{"leading zero length byte", {0x30, 0x82, 0x00, 0x03, 0x02, 0x01, 0x01}},
        BadInput{"five length bytes", {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03}},
        BadInput{"length past the end", {0x30, 0x05, 0x02, 0x01, 0x01}},
        BadInput{"truncated long length", {0x30, 0x82, 0x01}},
        BadInput{"wrong outer tag", {0x31, 0x03, 0x02, 0x01, 0x01}},
        BadInput{"empty integer", {0x30, 0x02, 0x02, 0x00}},
        BadInput{"negative integer", {0x30, 0x03, 0x02, 0x01, 0x80}},
        BadInput{"padded integer", {0x30, 0x04, 0x02, 0x02, 0x00, 0x01}},
        BadInput{"nine-byte integer", {0x30, 0x0B, 0x02, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}},
        BadInput{"inner length past its parent", {0x30, 0x03, 0x02, 0x02, 0x01}}));

TEST(DerReader, RefusesTrailingBytesAndUnexpectedValues) {
    const Bytes encoded = {0x02, 0x01, 0x05, 0x00};
    Reader reader = reader_of(encoded);
    EXPECT_THROW(reader_of(encoded).expect_integer(6), Exception);
    reader.expect_integer(5);
    EXPECT_THROW(reader.expect_end(), Exception);
    const Bytes oid_bytes = oid({0x2B, 0x65, 0x6E});
    EXPECT_THROW(reader_of(oid_bytes).expect_oid({0x2B, 0x65, 0x70}), Exception);
    EXPECT_THROW(reader_of(octet_string(Bytes(3).data(), 3)).octets(4), Exception);
}

}  // namespace
}  // namespace ztcrypto_detail::der
