#include "crypto/asymmetric_encryptor.h"

#include <gtest/gtest.h>

#include "crypto/crypto_error.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

const bytes kIv(16, 0x61);

bytes sequence(std::size_t n) {
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    return out;
}

class AsymmetricEncryptor : public ::testing::Test {
  protected:
    void SetUp() override {
        m_factory = fake::seeded(crypto_factory());
        ASSERT_TRUE(m_factory.is_initialized());
    }

    // A sender that encrypts to recipient's public key.
    asymmetric_encryptor sender_for(const asymmetric_encryptor& recipient) {
        std::error_code ec;
        asymmetric_encryptor sender;
        EXPECT_TRUE(sender.initialize(m_factory, ec)) << ec.message();
        EXPECT_TRUE(sender.import_public_key(recipient.get_public_key(ec), ec)) << ec.message();
        return sender;
    }

    crypto_factory m_factory;
};

TEST(WrappedRecord, ThreeBytesGiveSeven) {
    const bytes data{0xAA, 0xBB, 0xCC};
    const bytes record = asymmetric_encryptor::wrap(data);
    EXPECT_EQ(record, (bytes{0x03, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(asymmetric_encryptor::unwrap(record), data);
}

TEST(WrappedRecord, LengthIsLittleEndian) {
    const bytes record = asymmetric_encryptor::wrap(bytes(0x0102, 0));
    EXPECT_EQ(bytes(record.begin(), record.begin() + 4), (bytes{0x02, 0x01, 0x00, 0x00}));
    EXPECT_EQ(asymmetric_encryptor::unwrap(record).size(), 0x0102u);
}

TEST(WrappedRecord, PaddingBehindTheDataIsIgnored) {
    const bytes record{0x02, 0x00, 0x00, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(asymmetric_encryptor::unwrap(record), (bytes{0x11, 0x22}));
}

TEST(WrappedRecord, RecordsShorterThanTheirPrefixAreRefused) {
    const bytes cases[] = {
        {},
        {0x00, 0x00, 0x00},
        {0x04, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03},
        {0xFF, 0xFF, 0xFF, 0xFF, 0x01},
    };
    for (const auto& record : cases) {
        EXPECT_TRUE(asymmetric_encryptor::unwrap(record).empty()) << record.size();
    }
}

TEST_F(AsymmetricEncryptor, UninitializedFactoryIsRefused) {
    asymmetric_encryptor encryptor;
    crypto_factory empty;
    std::error_code ec;
    EXPECT_FALSE(encryptor.initialize(empty, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
    EXPECT_FALSE(encryptor.is_initialized());
}

TEST_F(AsymmetricEncryptor, EveryOperationNeedsInitialization) {
    asymmetric_encryptor encryptor;
    std::error_code ec;
    EXPECT_TRUE(encryptor.get_public_key(ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_FALSE(encryptor.import_public_key(bytes(32, 9), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_TRUE(encryptor.prepare_encrypt(kIv, ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_FALSE(encryptor.prepare_decrypt(kIv, bytes(80, 1), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_TRUE(encryptor.encrypt(sequence(3), ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_TRUE(encryptor.decrypt(sequence(16), ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_EQ(encryptor.get_encrypted_data_size(16), 0u);
}

TEST_F(AsymmetricEncryptor, CipherNeedsPreparation) {
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    EXPECT_EQ(encryptor.get_encrypted_data_size(16), 0u);
    EXPECT_TRUE(encryptor.encrypt(sequence(3), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_TRUE(encryptor.decrypt(sequence(16), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
}

TEST_F(AsymmetricEncryptor, SizesRoundUpToBlocks) {
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    ASSERT_FALSE(encryptor.prepare_encrypt(kIv, ec).empty()) << ec.message();
    EXPECT_EQ(encryptor.get_encrypted_data_size(16), 16u);
    EXPECT_EQ(encryptor.get_encrypted_data_size(17), 32u);
    EXPECT_EQ(encryptor.get_encrypted_data_size(1), 16u);
}

TEST_F(AsymmetricEncryptor, RecipientReadsWhatSenderEncrypted) {
    asymmetric_encryptor recipient;
    std::error_code ec;
    ASSERT_TRUE(recipient.initialize(m_factory, ec));
    asymmetric_encryptor sender = sender_for(recipient);

    const bytes wrapped_key = sender.prepare_encrypt(kIv, ec);
    ASSERT_FALSE(wrapped_key.empty()) << ec.message();
    const bytes data = sequence(45);
    const bytes cipher = sender.encrypt(data, ec);
    EXPECT_EQ(cipher.size(), 64u);  // 4 + 45 bytes, rounded up to blocks
    EXPECT_FALSE(ec);

    ASSERT_TRUE(recipient.prepare_decrypt(kIv, wrapped_key, ec)) << ec.message();
    EXPECT_EQ(recipient.decrypt(cipher, ec), data);
    EXPECT_FALSE(ec);
}

TEST_F(AsymmetricEncryptor, EmptyDataTravelsAsAnEmptyRecord) {
    asymmetric_encryptor recipient;
    std::error_code ec;
    ASSERT_TRUE(recipient.initialize(m_factory, ec));
    asymmetric_encryptor sender = sender_for(recipient);
    const bytes wrapped_key = sender.prepare_encrypt(kIv, ec);
    const bytes cipher = sender.encrypt({}, ec);
    EXPECT_EQ(cipher.size(), 16u);
    ASSERT_TRUE(recipient.prepare_decrypt(kIv, wrapped_key, ec));
    ec = crypto_error::internal_error;
    EXPECT_TRUE(recipient.decrypt(cipher, ec).empty());
    EXPECT_FALSE(ec);
}

TEST_F(AsymmetricEncryptor, KeyWrappedForSomeoneElseIsRefused) {
    asymmetric_encryptor recipient;
    asymmetric_encryptor stranger;
    std::error_code ec;
    ASSERT_TRUE(recipient.initialize(m_factory, ec));
    ASSERT_TRUE(stranger.initialize(m_factory, ec));
    asymmetric_encryptor sender = sender_for(recipient);
    bytes wrapped_key = sender.prepare_encrypt(kIv, ec);

    EXPECT_FALSE(stranger.prepare_decrypt(kIv, wrapped_key, ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    wrapped_key.back() ^= 0x01;
    EXPECT_FALSE(recipient.prepare_decrypt(kIv, wrapped_key, ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_FALSE(recipient.prepare_decrypt(kIv, {}, ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
}

TEST_F(AsymmetricEncryptor, BadPublicKeyIsRefusedAndKeepsTheKey) {
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    const bytes key = encryptor.get_public_key(ec);
    EXPECT_EQ(key.size(), 44u);
    EXPECT_FALSE(encryptor.import_public_key(bytes(7, 1), ec));
    EXPECT_EQ(ec, crypto_error::import_public_key_error);
    EXPECT_EQ(encryptor.get_public_key(ec), key);
}

TEST_F(AsymmetricEncryptor, GivenKeyObjectIsSharedAndKept) {
    auto key = m_factory.self()->create_asymmetric(L"");
    key->initialize();
    const bytes public_key = key->export_public_key(0);
    asymmetric_encryptor encryptor(key);
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    EXPECT_EQ(encryptor.get_public_key(ec), public_key);

    // A copy shares the key: what it prepares the original can open.
    asymmetric_encryptor copy = encryptor;
    const bytes wrapped_key = sender_for(copy).prepare_encrypt(kIv, ec);
    EXPECT_TRUE(encryptor.prepare_decrypt(kIv, wrapped_key, ec)) << ec.message();
}

TEST_F(AsymmetricEncryptor, MoveCarriesTheKeys) {
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    const bytes key = encryptor.get_public_key(ec);
    asymmetric_encryptor moved(std::move(encryptor));
    EXPECT_FALSE(encryptor.is_initialized());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.get_public_key(ec), key);
    asymmetric_encryptor assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get_public_key(ec), key);
}

TEST_F(AsymmetricEncryptor, ZeroBlockSizeIsRefused) {
    crypto_factory f = fake::seeded(fake::factory_with(fake::script::plain_cipher(0)));
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(f, ec));
    EXPECT_TRUE(encryptor.prepare_encrypt(kIv, ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_EQ(encryptor.get_encrypted_data_size(16), 0u);
    EXPECT_TRUE(encryptor.encrypt(sequence(3), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
}

TEST_F(AsymmetricEncryptor, DecryptedRecordLongerThanItsDataIsDecryptFailure) {
    // With a cipher that copies bytes, the "ciphertext" is the record itself.
    crypto_factory f = fake::seeded(fake::factory_with(fake::script::plain_cipher(16)));
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(f, ec));
    const bytes wrapped_key = encryptor.prepare_encrypt(kIv, ec);
    ASSERT_TRUE(encryptor.prepare_decrypt(kIv, wrapped_key, ec)) << ec.message();

    bytes record(16, 0);
    record[0] = 13;  // 4 + 13 > 16
    EXPECT_TRUE(encryptor.decrypt(record, ec).empty());
    EXPECT_EQ(ec, crypto_error::decrypt_failure);
    record[0] = 12;
    EXPECT_EQ(encryptor.decrypt(record, ec), bytes(12, 0));
    EXPECT_FALSE(ec);
}

TEST_F(AsymmetricEncryptor, ProviderCipherExceptionsReachTheCaller) {
    // Part of the contract: the cipher step does not convert the provider's exceptions.
    asymmetric_encryptor encryptor;
    std::error_code ec;
    ASSERT_TRUE(encryptor.initialize(m_factory, ec));
    const bytes wrapped_key = encryptor.prepare_encrypt(kIv, ec);
    ASSERT_TRUE(encryptor.prepare_decrypt(kIv, wrapped_key, ec));
    EXPECT_THROW(encryptor.decrypt(bytes(17, 1), ec), std::exception);
}

}  // namespace
