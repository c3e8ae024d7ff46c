#include "der.h"

#include <gtest/gtest.h>

#include <utility>

#include "ztcrypto/exception.h"

namespace ztcrypto_detail::der {
namespace {

Reader reader_of(const Bytes& bytes) {
    return Reader(bytes.data(), bytes.data() + bytes.size(), "test");
}

// The writer's minimal forms are checked by the strict reader in every container the
// provider tests make (a leading zero in an INTEGER, a long length in the container itself).
TEST(DerReader, RefusesMalformedElements) {
    const std::pair<const char*, Bytes> cases[] = {
        {"empty input", {}},
        {"a lone tag", {0x30}},
        {"indefinite length", {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}},
        {"long form for a short length", {0x30, 0x81, 0x03, 0x02, 0x01, 0x01}},
        {"leading zero length byte", {0x30, 0x82, 0x00, 0x03, 0x02, 0x01, 0x01}},
        {"five length bytes", {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03}},
        {"length past the end", {0x30, 0x05, 0x02, 0x01, 0x01}},
        {"truncated long length", {0x30, 0x82, 0x01}},
        {"wrong outer tag", {0x31, 0x03, 0x02, 0x01, 0x01}},
        {"empty integer", {0x30, 0x02, 0x02, 0x00}},
        {"negative integer", {0x30, 0x03, 0x02, 0x01, 0x80}},
        {"padded integer", {0x30, 0x04, 0x02, 0x02, 0x00, 0x01}},
        {"nine-byte integer", {0x30, 0x0B, 0x02, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"inner length past its parent", {0x30, 0x03, 0x02, 0x02, 0x01}},
    };
    for (const auto& [what, bytes] : cases) {
        try {
            reader_of(bytes).enter(kSequence).integer();
            ADD_FAILURE() << "accepted " << what;
        } catch (const Exception& e) {
            EXPECT_EQ(e.code(), Exception::malformed_data) << what;
        }
    }
}

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
