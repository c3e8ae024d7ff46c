// The client's key schedule against the service's own session cipher, both in one process.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/account_key.h"
#include "client/client_error.h"
#include "client/session_cipher.h"
#include "crypto/crypto_factory.h"
#include "crypto/crypto_service.h"
#include "session/packet.h"

namespace {

using bytes = std::vector<unsigned char>;

const std::wstring kServicePassword = L"0123456789abcdef0123456789abcdef";
const std::wstring kAccountPassword = L"pässword 🔑";

crypto_factory seeded() {
    crypto_factory factory;
    const bytes seed(32, 7);
    factory.initialize(seed);
    return factory;
}

bytes container(crypto_factory& f, const std::wstring& password) {
    return f.self()->create_key_agreement(L"")->create_container(password, 1706745599, 1000);
}

class ClientKeySchedule : public ::testing::Test {
  protected:
    // The account's token as the service stores it at registration.
    bytes stored_token() {
        client::account_key key;
        EXPECT_TRUE(key.open(*m_factory.self(), m_account, kAccountPassword, ec));
        return key.token(ec).to_vector();
    }

    crypto_factory m_factory = seeded();
    bytes m_service_container = container(m_factory, kServicePassword);
    bytes m_account = container(m_factory, kAccountPassword);
    std::error_code ec;
};

// That a wrong or missing token gives another key is the provider's test of the private
// parameter and the service's handshake test; here the client's steps meet the service's.
TEST_F(ClientKeySchedule, TheAccountsTokenGivesTheServicesSessionKey) {
    const bytes token = stored_token();
    ASSERT_EQ(token.size(), 32u);
    client::account_key own;
    ASSERT_TRUE(own.open(*m_factory.self(), m_account, kAccountPassword, ec));
    // The service: its container, the client's key material, an encryptor at the IV step,
    // then again once the token is set.
    crypto_service service;
    ASSERT_TRUE(service.initialize(m_factory, ec));
    ASSERT_TRUE(service.import_container(kServicePassword, m_service_container, ec));
    client::session_cipher cipher(m_factory.self());
    ASSERT_TRUE(service.import_key_material(cipher.key_material(ec), ec)) << ec.message();
    ASSERT_TRUE(cipher.import_answer(service.export_key_material(), ec)) << ec.message();
    const bytes iv = cipher.random(client::kSessionIvSize, ec);
    ASSERT_TRUE(service.create_encryptor(kServicePassword, ec)) << ec.message();
    ASSERT_TRUE(service.set_iv(iv, ec));
    ASSERT_TRUE(service.set_additional_private_parameter(token, ec));
    ASSERT_TRUE(service.create_encryptor(kServicePassword, ec));
    ASSERT_TRUE(service.set_iv(iv, ec));
    ASSERT_TRUE(cipher.set_token(own.token(ec), ec));
    ASSERT_TRUE(cipher.create_encryptor(iv, ec)) << ec.message();

    // A request both ways, as the packets travel.
    std::error_code decoded;
    const packet seen = deserialize(
        service.decrypt(cipher.encrypt(serialize(1u, 16u, bytes{'h', 'i'}), ec), ec), decoded);
    const packet answer = deserialize(
        cipher.decrypt(service.encrypt(serialize(1u, 128u, bytes{7}), ec), ec), decoded);
    EXPECT_EQ(seen.data, (bytes{'h', 'i'}));
    EXPECT_EQ(answer.data, bytes{7});
    EXPECT_FALSE(decoded);
}

TEST_F(ClientKeySchedule, AContainerOpensOnlyWithItsPassword) {
    client::account_key key;
    EXPECT_FALSE(key.open(*m_factory.self(), m_account, L"wrong", ec));
    EXPECT_EQ(ec, client_error::wrong_password);
    EXPECT_FALSE(key.is_open());
    EXPECT_TRUE(key.token(ec).empty());
    bytes cut(m_account.begin(), m_account.end() - 1);
    EXPECT_FALSE(key.open(*m_factory.self(), cut, kAccountPassword, ec));
    EXPECT_EQ(ec, client_error::damaged_container);
    EXPECT_FALSE(key.open(*m_factory.self(), {}, kAccountPassword, ec));
    EXPECT_EQ(ec, client_error::damaged_container);
    // The token is the same on every opening, and the container's own.
    EXPECT_EQ(stored_token(), stored_token());
}

}  // namespace
