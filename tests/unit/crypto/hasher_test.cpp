#include "crypto/hasher.h"

#include <gtest/gtest.h>

#include "crypto/crypto_error.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// SHA-256 of "abc".
const bytes kAbcDigest{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                       0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                       0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

TEST(HasherTest, DigestsAreSha256) {
    crypto_factory f = fake::seeded(crypto_factory());
    Hasher hasher;
    std::error_code ec;
    ASSERT_TRUE(hasher.initialize(f, ec)) << ec.message();
    EXPECT_TRUE(hasher.is_initialized());
    EXPECT_EQ(hasher.size(), 32u);
    EXPECT_EQ(hasher.hash(std::string("abc"), ec), kAbcDigest);
    EXPECT_EQ(hasher.hash(bytes{'a', 'b', 'c'}, ec), kAbcDigest);
    EXPECT_FALSE(ec);
    // Each call is a digest of its own input, not a running one.
    EXPECT_EQ(hasher.hash(std::string("abc"), ec), kAbcDigest);
    EXPECT_EQ(hasher.hash(bytes{}, ec).size(), 32u);
}

TEST(HasherTest, UninitializedHasherRefuses) {
    Hasher hasher;
    std::error_code ec;
    EXPECT_EQ(hasher.size(), 0u);
    EXPECT_TRUE(hasher.hash(std::string("abc"), ec).empty());
    EXPECT_EQ(ec, crypto_error::hash_initialize_error);
    EXPECT_EQ(ec.message(), "Hash algorithm initialize error");

    crypto_factory empty;
    EXPECT_FALSE(hasher.initialize(empty, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
}

}  // namespace
