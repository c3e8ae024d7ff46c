#include "crypto/asymmetric_encryptor.h"

#include <gtest/gtest.h>

#include <numeric>

#include "crypto/crypto_error.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

const bytes kIv(16, 0x61);

class AsymmetricEncryptor : public ::testing::Test {
  protected:
    // An initialized encryptor over f.
    asymmetric_encryptor made(const crypto_factory& f) {
        asymmetric_encryptor encryptor;
        EXPECT_TRUE(encryptor.initialize(f, ec)) << ec.message();
        return encryptor;
    }

    // Expects the call before to have failed with expected, then clears the error.
    void refused(bool failed, crypto_error expected) {
        EXPECT_TRUE(failed);
        EXPECT_EQ(ec, expected);
        ec.clear();
    }

    crypto_factory m_factory = fake::seeded();
    std::error_code ec;
};

TEST(WrappedRecord, LengthPrefixIsFourBytesLittleEndianAndBoundsUnwrap) {
    const bytes data{0xAA, 0xBB, 0xCC};
    EXPECT_EQ(asymmetric_encryptor::wrap(data), (bytes{0x03, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC}));
    const bytes record = asymmetric_encryptor::wrap(bytes(0x0102, 0));
    EXPECT_EQ(bytes(record.begin(), record.begin() + 4), (bytes{0x02, 0x01, 0x00, 0x00}));
    // Unwrapping ignores the padding and refuses short records.
    const std::pair<bytes, bytes> rows[] = {
        {{0x02, 0x00, 0x00, 0x00, 0x11, 0x22, 0x00, 0x00}, {0x11, 0x22}},
        {{0x00, 0x00, 0x00, 0x00}, {}},
        {{}, {}},
        {{0x00, 0x00, 0x00}, {}},
        {{0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03}, {}},  // prefix larger than the data
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x01}, {}},
    };
    for (const auto& [wrapped, unwrapped] : rows) {
        EXPECT_EQ(asymmetric_encryptor::unwrap(wrapped), unwrapped) << wrapped.size();
    }
}

// Without initialization, without a prepared cipher, or with a cipher of block size 0,
// nothing is encrypted.
TEST_F(AsymmetricEncryptor, OperationsNeedInitializationAndAPreparedCipher) {
    asymmetric_encryptor blank;
    refused(blank.get_public_key(ec).empty(), crypto_error::not_initialized);
    refused(!blank.import_public_key(bytes(32, 9), ec), crypto_error::not_initialized);
    refused(blank.prepare_encrypt(kIv, ec).empty(), crypto_error::not_initialized);
    refused(!blank.prepare_decrypt(kIv, bytes(80, 1), ec), crypto_error::not_initialized);
    refused(blank.encrypt(bytes(3, 1), ec).empty(), crypto_error::not_initialized);

    asymmetric_encryptor unprepared = made(m_factory);
    EXPECT_EQ(unprepared.get_encrypted_data_size(16), 0u);
    refused(unprepared.encrypt(bytes(3, 1), ec).empty(), crypto_error::encryptor_not_created);
    refused(unprepared.decrypt(bytes(16, 1), ec).empty(), crypto_error::encryptor_not_created);

    asymmetric_encryptor zero_blocks =
        made(fake::seeded(fake::factory_with([](fake::script& s) { s.plain_block = 0; })));
    refused(zero_blocks.prepare_encrypt(kIv, ec).empty(), crypto_error::encryptor_not_created);
    EXPECT_EQ(zero_blocks.get_encrypted_data_size(16), 0u);
    refused(zero_blocks.encrypt(bytes(3, 1), ec).empty(), crypto_error::encryptor_not_created);
}

// Only the holder of the private key reads what was encrypted to its public key, and only
// the exact ciphertext under the IV it was made with: a changed byte anywhere, any other
// size or another IV is "Decrypt failure".
TEST_F(AsymmetricEncryptor, OnlyTheRecipientReadsTheUnchangedCiphertext) {
    asymmetric_encryptor recipient = made(m_factory);
    asymmetric_encryptor sender = made(m_factory);
    ASSERT_TRUE(sender.import_public_key(recipient.get_public_key(ec), ec)) << ec.message();
    const bytes wrapped_key = sender.prepare_encrypt(kIv, ec);
    ASSERT_FALSE(wrapped_key.empty()) << ec.message();
    bytes changed_key = wrapped_key;
    changed_key.back() ^= 0x01;
    refused(!made(m_factory).prepare_decrypt(kIv, wrapped_key, ec),
            crypto_error::encryptor_not_created);
    refused(!recipient.prepare_decrypt(kIv, changed_key, ec), crypto_error::encryptor_not_created);
    refused(!recipient.prepare_decrypt(kIv, {}, ec), crypto_error::encryptor_not_created);
    ASSERT_TRUE(recipient.prepare_decrypt(kIv, wrapped_key, ec)) << ec.message();

    // The 4-byte prefix and the data, rounded up to blocks, and the 32-byte tag.
    for (const auto& [n, cipher_size] : {std::pair<std::size_t, std::size_t>{45, 96}, {0, 48}}) {
        bytes data(n);
        std::iota(data.begin(), data.end(), std::uint8_t{5});
        const bytes cipher = sender.encrypt(data, ec);
        EXPECT_EQ(cipher.size(), cipher_size);
        ec = crypto_error::internal_error;
        EXPECT_EQ(recipient.decrypt(cipher, ec), data);
        EXPECT_FALSE(ec) << ec.message();
    }

    const bytes cipher = sender.encrypt(bytes(45, 7), ec);
    ASSERT_EQ(cipher.size(), 96u);
    const auto forged = [&](const bytes& bad, std::size_t what) {
        SCOPED_TRACE(what);
        refused(recipient.decrypt(bad, ec).empty(), crypto_error::decrypt_failure);
    };
    for (std::size_t i = 0; i < cipher.size(); ++i) {
        bytes changed = cipher;
        changed[i] ^= 0x01;
        forged(changed, i);
    }
    // Every cut, including those that leave no whole block, and a byte too many.
    for (std::size_t size = 0; size < cipher.size(); ++size) {
        forged(bytes(cipher.begin(), cipher.begin() + static_cast<std::ptrdiff_t>(size)), size);
    }
    bytes longer = cipher;
    longer.push_back(0);
    forged(longer, longer.size());
    ASSERT_TRUE(recipient.prepare_decrypt(bytes(kIv.size(), 0x5A), wrapped_key, ec));
    forged(cipher, 0);
}

TEST_F(AsymmetricEncryptor, BadPublicKeyIsRefusedAndInitializeKeepsAGivenKey) {
    asymmetric_encryptor encryptor = made(m_factory);
    const bytes key = encryptor.get_public_key(ec);
    EXPECT_EQ(key.size(), 44u);
    refused(!encryptor.import_public_key(bytes(7, 1), ec), crypto_error::import_public_key_error);
    EXPECT_EQ(encryptor.get_public_key(ec), key);

    auto given = m_factory.self()->create_asymmetric(L"");
    given->initialize();
    asymmetric_encryptor keeper(given);
    ASSERT_TRUE(keeper.initialize(m_factory, ec));
    EXPECT_EQ(keeper.get_public_key(ec), given->export_public_key(0));
}

}  // namespace
