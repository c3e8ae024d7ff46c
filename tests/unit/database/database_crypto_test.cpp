// The database cipher over the real provider: call order, sizes and error codes.
#include "database/database_crypto.h"

#include <gtest/gtest.h>

#include "crypto/crypto_error.h"
#include "service_fixture.h"

namespace {

using testing_db::bytes;

TEST(DatabaseCryptoSizes, RoundsUpToWholeBlocks) {
    EXPECT_EQ(DatabaseCryptoManager::get_encrypted_data_size(16, 16), 16u);
    EXPECT_EQ(DatabaseCryptoManager::get_encrypted_data_size(17, 16), 32u);
    EXPECT_EQ(DatabaseCryptoManager::get_encrypted_data_size(0, 16), 0u);
    EXPECT_EQ(DatabaseCryptoManager::get_encrypted_data_size(1, 16), 16u);
}

TEST(DatabaseCryptoInitialize, RefusesFactoryThatIsNotInitialised) {
    DatabaseCryptoManager manager;
    crypto_factory factory;
    std::error_code ec;
    EXPECT_FALSE(manager.initialize(factory, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
    EXPECT_FALSE(manager.initialized());
}

// A provider that cannot make key-agreement objects.
class no_agreement_provider : public CryptoFactoryDef {
  public:
    std::shared_ptr<DiffieHellmanBase> create_key_agreement(const std::wstring&) override {
        throw Exception("none", Exception::backend_failure, "create_key_agreement");
    }
};

TEST(DatabaseCryptoInitialize, ProviderFailureIsOutOfMemory) {
    crypto_factory factory([] { return std::make_shared<no_agreement_provider>(); });
    ASSERT_TRUE(factory.initialize(bytes(32, 1)));
    DatabaseCryptoManager manager;
    std::error_code ec;
    EXPECT_FALSE(manager.initialize(factory, ec));
    EXPECT_EQ(ec, std::errc::not_enough_memory);
    EXPECT_FALSE(manager.initialized());
}

class DatabaseCrypto : public ::testing::Test {
  protected:
    void SetUp() override {
        m_factory = testing_db::seeded_factory();
        m_service = testing_db::make_service(m_factory);
        std::error_code ec;
        ASSERT_TRUE(m_manager.initialize(m_factory, ec)) << ec.message();
    }

    // import_container and create_encryptor with the service credentials.
    void unlock() {
        std::error_code ec;
        ASSERT_TRUE(m_manager.import_container(m_service.first, m_service.second, ec));
        ASSERT_TRUE(m_manager.create_encryptor(m_service.first, ec)) << ec.message();
    }

    crypto_factory m_factory;
    testing_db::credentials m_service;
    DatabaseCryptoManager m_manager;
};

TEST_F(DatabaseCrypto, EveryCipherOperationNeedsTheEncryptor) {
    std::error_code ec;
    EXPECT_TRUE(m_manager.encrypt(bytes(16, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_TRUE(m_manager.decrypt(bytes(16, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_FALSE(m_manager.set_iv(bytes(16, 1), ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_EQ(m_manager.get_size_for_encrypted_data(5, ec), 0u);
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_EQ(m_manager.get_padding(5, ec), 0u);
}

TEST_F(DatabaseCrypto, EncryptorNeedsAnImportedContainer) {
    std::error_code ec;
    EXPECT_FALSE(m_manager.initialized());
    EXPECT_FALSE(m_manager.create_encryptor(m_service.first, ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
}

TEST_F(DatabaseCrypto, PublicKeyBeforeImportIsRefused) {
    std::error_code ec;
    EXPECT_TRUE(m_manager.get_public_key(ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
}

TEST_F(DatabaseCrypto, WrongPasswordIsInvalidPassword) {
    std::error_code ec;
    EXPECT_FALSE(m_manager.import_container(L"not the password", m_service.second, ec));
    EXPECT_EQ(ec, crypto_error::invalid_password);
    EXPECT_FALSE(m_manager.initialized());
}

TEST_F(DatabaseCrypto, EncryptsAndDecryptsFromTheIvSet) {
    unlock();
    std::error_code ec;
    EXPECT_EQ(m_manager.get_iv_size(), 16u);
    const bytes iv = generate_iv(m_factory, m_manager.get_iv_size(), ec);
    ASSERT_EQ(iv.size(), 16u);
    ASSERT_TRUE(m_manager.set_iv(iv, ec));
    EXPECT_EQ(m_manager.get_iv(), iv);

    const bytes plain = {1, 2, 3, 4, 5};
    EXPECT_EQ(m_manager.get_padding(plain.size(), ec), 11u);
    const bytes cipher = m_manager.encrypt(plain, ec);
    ASSERT_EQ(cipher.size(), 16u);
    const bytes back = m_manager.decrypt(cipher, ec);
    ASSERT_EQ(back.size(), 16u);  // the zero padding stays
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 5, back.end(), [](unsigned char b) { return b == 0; }));
    EXPECT_FALSE(ec);

    // Empty input: empty output, no error.
    EXPECT_TRUE(m_manager.encrypt({}, ec).empty());
    EXPECT_FALSE(ec);
    EXPECT_EQ(m_manager.get_padding(0, ec), 0u);
}

TEST_F(DatabaseCrypto, FileKeyIsTheSameForTheSameContainer) {
    unlock();
    std::error_code ec;
    const bytes iv(16, 3);
    ASSERT_TRUE(m_manager.set_iv(iv, ec));
    const bytes cipher = m_manager.encrypt(bytes(32, 0x42), ec);

    DatabaseCryptoManager other;
    ASSERT_TRUE(other.initialize(m_factory, ec));
    ASSERT_TRUE(other.import_container(m_service.first, m_service.second, ec));
    ASSERT_TRUE(other.create_encryptor(m_service.first, ec));
    ASSERT_TRUE(other.set_iv(iv, ec));
    EXPECT_EQ(other.decrypt(cipher, ec), bytes(32, 0x42));
}

TEST_F(DatabaseCrypto, PartialBlockCiphertextIsADecryptFailure) {
    unlock();
    std::error_code ec;
    ASSERT_TRUE(m_manager.set_iv(bytes(16, 0), ec));
    EXPECT_TRUE(m_manager.decrypt(bytes(17, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::decrypt_failure);
    ec.clear();
    EXPECT_FALSE(m_manager.set_iv(bytes(15, 0), ec));
    EXPECT_EQ(ec, crypto_error::set_iv_error);
}

TEST_F(DatabaseCrypto, PublicKeyAndCipherShareTheServiceKey) {
    unlock();
    std::error_code ec;
    const bytes key = m_manager.get_public_key(ec);
    EXPECT_EQ(key.size(), 44u) << ec.message();
    asymmetric_encryptor cipher = m_manager.get_cipher();
    ASSERT_TRUE(cipher.initialize(m_manager.get_factory(), ec)) << ec.message();
    EXPECT_EQ(cipher.get_public_key(ec), key);
}

TEST_F(DatabaseCrypto, ResetDropsTheEncryptorAndTheContainer) {
    unlock();
    std::error_code ec;
    EXPECT_TRUE(m_manager.reset(ec));
    EXPECT_FALSE(m_manager.initialized());
    EXPECT_TRUE(m_manager.encrypt(bytes(4, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
}

TEST(GenerateIv, FreshBytesOfTheRequestedSize) {
    crypto_factory factory = testing_db::seeded_factory();
    std::error_code ec;
    const bytes a = generate_iv(factory, 16, ec);
    const bytes b = generate_iv(factory, 16, ec);
    EXPECT_EQ(a.size(), 16u);
    EXPECT_NE(a, b);
    crypto_factory none;
    EXPECT_TRUE(generate_iv(none, 16, ec).empty());
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
}

}  // namespace
