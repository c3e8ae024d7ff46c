#include "crypto/crypto_service.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "crypto/crypto_error.h"
#include "fake_provider.h"
#include "session_peer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

const std::wstring kSessionPassword = L"session token";
const bytes kIv(16, 0x24);

bytes sequence(std::size_t n) {
    bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return out;
}

// A server session cipher taken through the handshake with a client up to the encryptor.
class SessionCipher : public ::testing::Test {
  protected:
    void SetUp() override {
        m_factory = fake::seeded(crypto_factory());
        ASSERT_TRUE(m_factory.is_initialized());
        m_container = peer::make_container(m_factory, peer::kServicePassword);
    }

    // Initialize, import the service container and the client's key material.
    void authenticate(crypto_service& service, peer::client& client) {
        std::error_code ec;
        ASSERT_TRUE(service.initialize(m_factory, ec)) << ec.message();
        ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec))
            << ec.message();
        ASSERT_TRUE(service.import_key_material(client.key_material(), ec)) << ec.message();
    }

    // The whole handshake: both sides keyed with kIv.
    void open(crypto_service& service, peer::client& client) {
        authenticate(service, client);
        std::error_code ec;
        ASSERT_TRUE(service.create_encryptor(kSessionPassword, ec)) << ec.message();
        ASSERT_TRUE(service.set_iv(kIv, ec)) << ec.message();
        client.finish(service.export_key_material(), kSessionPassword, kIv);
    }

    crypto_factory m_factory;
    bytes m_container;
};

TEST_F(SessionCipher, NeverInitializedCipherIsNotInitialized) {
    crypto_service service;
    EXPECT_FALSE(service.initialized());
    EXPECT_FALSE(service.ready());
}

TEST_F(SessionCipher, UninitializedFactoryIsRefused) {
    crypto_service service;
    crypto_factory empty;
    std::error_code ec;
    EXPECT_FALSE(service.initialize(empty, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
}

TEST_F(SessionCipher, FailedInitializationDropsEverything) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;
    // The provider refuses a null seed of non-zero length.
    EXPECT_FALSE(service.initialize(nullptr, 5, ec));
    EXPECT_EQ(ec, std::make_error_code(std::errc::not_enough_memory));
    EXPECT_EQ(ec.value(), 12);
    EXPECT_FALSE(service.ready());
    EXPECT_FALSE(service.initialized());
    EXPECT_TRUE(service.get_public_key(ec).empty());
    EXPECT_FALSE(service.import_container(peer::kServicePassword, m_container, ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
}

TEST_F(SessionCipher, KeyOperationsBeforeInitializationAreRefused) {
    crypto_service service;
    std::error_code ec;
    EXPECT_FALSE(service.import_key_material(bytes(32, 1), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_FALSE(service.set_additional_private_parameter(bytes(4, 1), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_TRUE(service.export_container(L"x", ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_TRUE(service.get_symmetric_key_container(L"x").empty());
    EXPECT_TRUE(service.get_additional_private_parameter().empty());
}

TEST_F(SessionCipher, InitializedOnlyOnceContainerIsImported) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    EXPECT_FALSE(service.initialized());
    ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    EXPECT_TRUE(service.initialized());
    EXPECT_FALSE(ec);
}

TEST_F(SessionCipher, OwnSeedInitializesToo) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(bytes(32, 1), ec)) << ec.message();
    EXPECT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    EXPECT_EQ(service.get_public_key(ec).size(), 44u);
}

TEST_F(SessionCipher, BadContainersAreInvalidPassword) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    bytes tampered = m_container;
    tampered[tampered.size() / 2] ^= 0x01;
    const std::pair<std::wstring, bytes> cases[] = {
        {L"wrong password", m_container},
        {peer::kServicePassword, {}},
        {peer::kServicePassword, bytes(409, 0x30)},
        {peer::kServicePassword, tampered},
    };
    for (const auto& [password, container] : cases) {
        EXPECT_FALSE(service.import_container(password, container, ec));
        EXPECT_EQ(ec, crypto_error::invalid_password);
        EXPECT_EQ(ec.message(), "Invalid password");
    }
}

TEST_F(SessionCipher, RefusedContainerKeepsThePreviousKeys) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    const bytes key = service.get_public_key(ec);

    const bytes other = peer::make_container(m_factory, L"other");
    EXPECT_FALSE(service.import_container(L"not other", other, ec));
    EXPECT_TRUE(service.initialized());
    EXPECT_EQ(service.get_public_key(ec), key);
}

TEST_F(SessionCipher, ExportedContainerOpensUnderNewPassword) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    const bytes exported = service.export_container(L"new", ec);
    ASSERT_FALSE(exported.empty()) << ec.message();

    crypto_service other;
    ASSERT_TRUE(other.initialize(m_factory, ec));
    EXPECT_TRUE(other.import_container(L"new", exported, ec));
    EXPECT_EQ(other.get_public_key(ec), service.get_public_key(ec));
}

TEST_F(SessionCipher, ExportWithoutContainerFails) {
    crypto_service service;
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    EXPECT_TRUE(service.export_container(L"x", ec).empty());
    EXPECT_EQ(ec, crypto_error::export_container_error);
}

TEST_F(SessionCipher, KeyMaterialIsEmptyBeforeImport) {
    crypto_service service;
    EXPECT_TRUE(service.export_key_material().empty());
}

TEST_F(SessionCipher, RefusedKeyMaterialKeepsThePreviousAnswer) {
    crypto_service service;
    peer::client client(m_factory);
    authenticate(service, client);
    const bytes answer = service.export_key_material();
    EXPECT_EQ(answer.size(), 64u);

    std::error_code ec;
    EXPECT_FALSE(service.import_key_material(bytes(31, 9), ec));
    EXPECT_EQ(ec, crypto_error::import_key_material_error);
    EXPECT_EQ(service.export_key_material(), answer);
}

TEST_F(SessionCipher, EncryptorNeedsContainer) {
    crypto_service service;
    std::error_code ec;
    EXPECT_FALSE(service.create_encryptor(kSessionPassword, ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    ASSERT_TRUE(service.initialize(m_factory, ec));
    EXPECT_FALSE(service.create_encryptor(kSessionPassword, ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    EXPECT_FALSE(service.ready());
}

TEST_F(SessionCipher, ClientAndServerShareTheSessionKey) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    ASSERT_TRUE(service.ready());

    std::error_code ec;
    const bytes request = sequence(48);
    EXPECT_EQ(service.decrypt(client.encrypt(request), ec), request);
    EXPECT_FALSE(ec);
    const bytes answer = sequence(32);
    const bytes cipher = service.encrypt(answer, ec);
    EXPECT_NE(cipher, answer);
    EXPECT_EQ(client.decrypt(cipher), answer);
}

TEST_F(SessionCipher, PrivateParameterEntersTheSessionKey) {
    crypto_service service;
    peer::client client(m_factory);
    authenticate(service, client);
    std::error_code ec;
    const bytes parameter{1, 2, 3, 4};
    ASSERT_TRUE(service.set_additional_private_parameter(parameter, ec)) << ec.message();
    EXPECT_EQ(service.get_additional_private_parameter(), parameter);
    client.set_private_parameter(parameter);
    ASSERT_TRUE(service.create_encryptor(kSessionPassword, ec));
    ASSERT_TRUE(service.set_iv(kIv, ec));
    client.finish(service.export_key_material(), kSessionPassword, kIv);
    const bytes plain = sequence(16);
    EXPECT_EQ(client.decrypt(service.encrypt(plain, ec)), plain);
}

TEST_F(SessionCipher, WrongPasswordLeavesReadyUnchanged) {
    // The key agreement seals the session key under a password other than the one the
    // encryptor is built with, so importing it fails.
    crypto_factory f = fake::seeded(
        fake::factory_with(fake::script::foreign_password_while(std::make_shared<bool>(true))));
    ASSERT_TRUE(f.is_initialized());
    crypto_service service;
    peer::client client(f);
    std::error_code ec;
    ASSERT_TRUE(service.initialize(f, ec));
    ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    ASSERT_TRUE(service.import_key_material(client.key_material(), ec));

    EXPECT_FALSE(service.create_encryptor(kSessionPassword, ec));
    EXPECT_EQ(ec, crypto_error::invalid_password);
    EXPECT_EQ(ec.message(), "Invalid password");
    EXPECT_FALSE(service.ready());
}

TEST_F(SessionCipher, FailedEncryptorKeepsTheWorkingOne) {
    const auto foreign = std::make_shared<bool>(false);
    m_factory = fake::seeded(fake::factory_with(fake::script::foreign_password_while(foreign)));
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    ASSERT_TRUE(service.ready());

    *foreign = true;
    std::error_code ec;
    EXPECT_FALSE(service.create_encryptor(kSessionPassword, ec));
    EXPECT_EQ(ec, crypto_error::invalid_password);
    ASSERT_TRUE(service.ready());
    // Still the session's key: the client reads what the server encrypts.
    const bytes plain = sequence(32);
    EXPECT_EQ(client.decrypt(service.encrypt(plain, ec)), plain);
}

TEST_F(SessionCipher, MovedCipherKeepsTheSession) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    crypto_service moved = std::move(service);
    EXPECT_FALSE(service.ready());        // NOLINT(bugprone-use-after-move)
    EXPECT_FALSE(service.initialized());  // NOLINT(bugprone-use-after-move)
    ASSERT_TRUE(moved.ready());
    std::error_code ec;
    const bytes plain = sequence(16);
    EXPECT_EQ(client.decrypt(moved.encrypt(plain, ec)), plain);
}

TEST_F(SessionCipher, BlockSizesThatDoNotDivideSixteenAreRefused) {
    for (std::size_t block : {0u, 3u, 32u}) {
        crypto_factory f = fake::seeded(fake::factory_with(fake::script::plain_cipher(block)));
        crypto_service service;
        peer::client client(f);
        std::error_code ec;
        ASSERT_TRUE(service.initialize(f, ec));
        ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
        ASSERT_TRUE(service.import_key_material(client.key_material(), ec));
        EXPECT_FALSE(service.create_encryptor(kSessionPassword, ec)) << block;
        EXPECT_EQ(ec, crypto_error::create_encryptor_error) << block;
        EXPECT_FALSE(service.ready()) << block;
    }
}

TEST_F(SessionCipher, CiphertextIsWholeBlocks) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;

    const bytes sixteen = service.encrypt(sequence(16), ec);
    EXPECT_EQ(sixteen.size(), 16u);
    const bytes seventeen = service.encrypt(sequence(17), ec);
    ASSERT_EQ(seventeen.size(), 32u);
    EXPECT_FALSE(ec);

    const bytes plain = service.decrypt(seventeen, ec);
    ASSERT_EQ(plain.size(), 32u);
    EXPECT_FALSE(ec);
    EXPECT_EQ(bytes(plain.begin(), plain.begin() + 17), sequence(17));
    EXPECT_EQ(bytes(plain.begin() + 17, plain.end()), bytes(15, 0));
}

TEST_F(SessionCipher, EmptyInputGivesEmptyOutputWithoutError) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec = crypto_error::internal_error;
    EXPECT_TRUE(service.encrypt({}, ec).empty());
    EXPECT_FALSE(ec);
    ec = crypto_error::internal_error;
    EXPECT_TRUE(service.decrypt({}, ec).empty());
    EXPECT_FALSE(ec);
}

TEST_F(SessionCipher, SizesAndPadding) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;
    const std::tuple<std::size_t, std::size_t, std::size_t> rows[] = {
        {0, 0, 0}, {1, 16, 15}, {16, 16, 0}, {17, 32, 15}, {4096, 4096, 0},
    };
    for (const auto& [n, size, padding] : rows) {
        EXPECT_EQ(service.get_size_for_encrypted_data(n, ec), size) << n;
        EXPECT_EQ(service.get_padding(n, ec), padding) << n;
    }
    EXPECT_EQ(service.get_iv_size(), 16u);
    EXPECT_EQ(service.get_iv(), kIv);
}

TEST_F(SessionCipher, DecryptOfPartialBlockIsDecryptFailure) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;
    EXPECT_TRUE(service.decrypt(bytes(17, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::decrypt_failure);
    EXPECT_EQ(ec.message(), "Decrypt failure");
}

TEST_F(SessionCipher, WithoutEncryptorEveryCipherOperationSaysSo) {
    crypto_service service;
    std::error_code ec;
    EXPECT_TRUE(service.encrypt(sequence(4), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_TRUE(service.decrypt(sequence(16), ec).empty());
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_FALSE(service.set_iv(kIv, ec));
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    ec.clear();
    EXPECT_EQ(service.get_size_for_encrypted_data(5, ec), 0u);
    EXPECT_EQ(ec, crypto_error::encryptor_not_created);
    EXPECT_EQ(service.get_iv_size(), 0u);
    EXPECT_TRUE(service.get_iv().empty());
}

TEST_F(SessionCipher, ThrowingIvFormsWithoutEncryptor) {
    crypto_service service;
    try {
        service.set_iv(kIv);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Encryptor not created");
    }
    try {
        service.set_iv(kIv.data(), kIv.size());
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cryptographer not created");
    }
}

TEST_F(SessionCipher, NullIvPointerBecomesRuntimeError) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    try {
        service.set_iv(nullptr, 16);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("iv_rawPtr"), std::string::npos) << e.what();
    }
    EXPECT_EQ(service.get_iv(), kIv);
    const bytes other(16, 0x33);
    EXPECT_NO_THROW(service.set_iv(other.data(), other.size()));
    EXPECT_EQ(service.get_iv(), other);
}

TEST_F(SessionCipher, RefusedIvKeepsTheCurrentOne) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;
    EXPECT_FALSE(service.set_iv(bytes(5, 1), ec));
    EXPECT_EQ(ec, crypto_error::set_iv_error);
    EXPECT_EQ(service.get_iv(), kIv);
    EXPECT_THROW(service.set_iv(bytes(5, 1)), std::runtime_error);
}

TEST_F(SessionCipher, PublicKeyNeedsInitialization) {
    crypto_service service;
    std::error_code ec;
    EXPECT_TRUE(service.get_public_key(ec).empty());
    EXPECT_EQ(ec, crypto_error::not_initialized);
}

TEST_F(SessionCipher, ResetDropsEncryptorAndKeepsKeyMaterial) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    const bytes answer = service.export_key_material();
    std::error_code ec;
    ASSERT_TRUE(service.reset(ec));
    EXPECT_FALSE(service.ready());
    EXPECT_FALSE(service.initialized());
    EXPECT_EQ(service.export_key_material(), answer);

    // The cipher can be taken through the handshake again.
    ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
    EXPECT_TRUE(service.initialized());
}

TEST_F(SessionCipher, ForceResetDropsEncryptor) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    service.force_reset();
    EXPECT_FALSE(service.ready());
    EXPECT_FALSE(service.initialized());
    crypto_service never;
    never.force_reset();
    never.reset();
    EXPECT_FALSE(never.ready());
}

TEST_F(SessionCipher, ReinitializationDropsEncryptor) {
    crypto_service service;
    peer::client client(m_factory);
    open(service, client);
    std::error_code ec;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    EXPECT_FALSE(service.ready());
}

TEST_F(SessionCipher, RandomConveniences) {
    crypto_service service;
    std::error_code ec;
    EXPECT_TRUE(service.random(16, ec).empty());
    EXPECT_EQ(ec, crypto_error::create_random_error);
    ASSERT_TRUE(service.initialize(m_factory, ec));
    const bytes a = service.random(32, ec);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_FALSE(ec);
    EXPECT_NE(a, service.random(32, ec));
    EXPECT_FALSE(service.random(nullptr, 8, ec));
    EXPECT_EQ(ec, crypto_error::generate_random_error);
}

TEST_F(SessionCipher, HashConvenienceIsSha256) {
    crypto_service service;
    std::error_code ec;
    const std::string abc = "abc";
    const bytes input(abc.begin(), abc.end());
    EXPECT_TRUE(service.hash(input, ec).empty());
    EXPECT_EQ(ec, crypto_error::hash_initialize_error);
    ASSERT_TRUE(service.initialize(m_factory, ec));
    const bytes expected{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                         0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                         0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(service.hash(input, ec), expected);
    EXPECT_FALSE(ec);
}

}  // namespace
