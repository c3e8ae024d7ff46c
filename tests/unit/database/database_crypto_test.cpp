// The database cipher over the real provider: call order, sizes and error codes.
#include "database/database_crypto.h"

#include <gtest/gtest.h>

#include "crypto/crypto_error.h"
#include "service_fixture.h"

namespace {

using namespace testing_db;

TEST(DatabaseCryptoInitialize, FactoryFailuresAreReported) {
    const std::pair<crypto_factory, std::error_code> cases[] = {
        {crypto_factory(), crypto_error::factory_not_initialized},
        {fake::seeded(fake::factory_with([](fake::script& s) { s.refuse_key_agreement = true; })),
         std::make_error_code(std::errc::not_enough_memory)},
    };
    for (const auto& [factory, expected] : cases) {
        DatabaseCryptoManager manager;
        std::error_code ec;
        EXPECT_FALSE(manager.initialize(factory, ec));
        EXPECT_EQ(ec, expected);
        EXPECT_FALSE(manager.initialized());
    }
}

class DatabaseCrypto : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code ec;
        ASSERT_TRUE(m_manager.initialize(m_factory, ec)) << ec.message();
    }

    // import_container and create_encryptor with the service credentials.
    void unlock() {
        std::error_code ec;
        ASSERT_TRUE(m_manager.import_container(m_service.first, m_service.second, ec));
        ASSERT_TRUE(m_manager.create_encryptor(m_service.first, ec)) << ec.message();
    }

    crypto_factory m_factory = seeded_factory();
    credentials m_service = make_service(m_factory);
    DatabaseCryptoManager m_manager;
};

TEST_F(DatabaseCrypto, OperationsBeforeUnlockAreRefused) {
    std::error_code ec;
    const auto refused = [&](bool done, std::error_code expected) {
        EXPECT_FALSE(done) << expected.message();
        EXPECT_EQ(ec, expected);
        ec.clear();
    };
    const std::error_code locked = crypto_error::encryptor_not_created;
    refused(!m_manager.encrypt(bytes(16, 1), ec).empty(), locked);
    refused(!m_manager.decrypt(bytes(16, 1), ec).empty(), locked);
    refused(m_manager.set_iv(bytes(16, 1), ec), locked);
    refused(m_manager.get_padding(5, ec) != 0, locked);
    refused(m_manager.create_encryptor(m_service.first, ec), crypto_error::not_initialized);
    refused(!m_manager.get_public_key(ec).empty(), crypto_error::not_initialized);
    refused(m_manager.import_container(L"bad", m_service.second, ec),
            crypto_error::invalid_password);
    EXPECT_FALSE(m_manager.initialized());
}

// An import that fails half-way keeps the container held before, whole: the file cipher
// still reads what it wrote.
TEST(DatabaseCryptoImport, HalfFailedImportKeepsThePreviousContainer) {
    const auto refuse = std::make_shared<bool>(false);
    crypto_factory factory = fake::seeded(
        fake::factory_with([&](fake::script& s) { s.refuse_asymmetric_import = refuse; }));
    const credentials first = make_service(factory);
    const credentials second = make_service(factory);
    DatabaseCryptoManager manager;
    std::error_code ec;
    ASSERT_TRUE(manager.initialize(factory, ec));
    ASSERT_TRUE(manager.import_container(first.first, first.second, ec));
    ASSERT_TRUE(manager.create_encryptor(first.first, ec)) << ec.message();
    const bytes iv(16, 3), plain(32, 9);
    ASSERT_TRUE(manager.set_iv(iv, ec));
    const bytes cipher = manager.encrypt(plain, ec);
    const bytes public_key = manager.get_public_key(ec);

    *refuse = true;  // the key agreement takes the second container, the asymmetric key not
    EXPECT_FALSE(manager.import_container(second.first, second.second, ec));
    EXPECT_EQ(ec, crypto_error::invalid_password);
    EXPECT_EQ(manager.get_public_key(ec), public_key);
    ASSERT_TRUE(manager.create_encryptor(first.first, ec)) << ec.message();
    ASSERT_TRUE(manager.set_iv(iv, ec));
    EXPECT_EQ(manager.decrypt(cipher, ec), plain);
}

TEST_F(DatabaseCrypto, EncryptsAndDecryptsFromTheIvSet) {
    unlock();
    std::error_code ec;
    const bytes iv = generate_iv(m_factory, m_manager.get_iv_size(), ec);
    ASSERT_EQ(iv.size(), 16u);
    ASSERT_TRUE(m_manager.set_iv(iv, ec));
    EXPECT_EQ(m_manager.get_iv(), iv);

    for (const auto& [n, padded] : {std::pair{16u, 16u}, {17u, 32u}, {0u, 0u}, {1u, 16u}}) {
        EXPECT_EQ(DatabaseCryptoManager::get_encrypted_data_size(n, 16), padded) << n;
    }
    const bytes plain = {1, 2, 3, 4, 5};
    EXPECT_EQ(m_manager.get_padding(plain.size(), ec), 11u);
    const bytes cipher = m_manager.encrypt(plain, ec);
    ASSERT_EQ(cipher.size(), 16u);
    bytes expected = plain;
    expected.resize(16);  // the zero padding stays
    EXPECT_EQ(m_manager.decrypt(cipher, ec), expected);
    EXPECT_FALSE(ec);
    EXPECT_TRUE(m_manager.encrypt({}, ec).empty());
    EXPECT_FALSE(ec);

    EXPECT_TRUE(m_manager.decrypt(bytes(17, 1), ec).empty());  // not whole blocks
    EXPECT_EQ(ec, crypto_error::decrypt_failure);
    EXPECT_FALSE(m_manager.set_iv(bytes(15, 0), ec));
    EXPECT_EQ(ec, crypto_error::set_iv_error);
}

TEST_F(DatabaseCrypto, ServiceKeyIsSharedAndResetDropsIt) {
    unlock();
    std::error_code ec;
    const bytes key = m_manager.get_public_key(ec);
    EXPECT_EQ(key.size(), 44u) << ec.message();
    asymmetric_encryptor cipher = m_manager.get_cipher();
    ASSERT_TRUE(cipher.initialize(m_manager.get_factory(), ec)) << ec.message();
    EXPECT_EQ(cipher.get_public_key(ec), key);

    EXPECT_TRUE(m_manager.reset(ec));
    EXPECT_FALSE(m_manager.initialized());
    EXPECT_TRUE(m_manager.encrypt(bytes(4, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
}

}  // namespace
