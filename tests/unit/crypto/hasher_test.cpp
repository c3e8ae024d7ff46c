#include "crypto/hasher.h"

#include <gtest/gtest.h>

#include "crypto/crypto_error.h"
#include "crypto/crypto_service.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

TEST(Hashing, HasherAndSessionCipherGiveSha256OfEachInputAloneOnceInitialized) {
    const bytes abc{'a', 'b', 'c'};
    const bytes digest{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                       0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                       0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    Hasher hasher;
    crypto_service service;
    std::error_code ec;
    EXPECT_EQ(hasher.size(), 0u);
    EXPECT_TRUE(hasher.hash(std::string("abc"), ec).empty());
    EXPECT_EQ(ec, crypto_error::hash_initialize_error);
    EXPECT_TRUE(service.hash(abc, ec).empty());
    EXPECT_EQ(ec, crypto_error::hash_initialize_error);
    crypto_factory f = fake::seeded();
    ASSERT_TRUE(hasher.initialize(f, ec)) << ec.message();
    ASSERT_TRUE(service.initialize(f, ec)) << ec.message();
    EXPECT_EQ(hasher.size(), 32u);
    EXPECT_EQ(hasher.hash(std::string("abc"), ec), digest);
    EXPECT_EQ(hasher.hash(bytes{}, ec).size(), 32u);
    // A second call is a digest of its own input, not a running one.
    EXPECT_EQ(hasher.hash(abc, ec), digest);
    EXPECT_EQ(service.hash(abc, ec), digest);
    EXPECT_FALSE(ec);
}

}  // namespace
