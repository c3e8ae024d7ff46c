#include "crypto/crypto_service.h"

#include <gtest/gtest.h>

#include <numeric>
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
    std::iota(out.begin(), out.end(), std::uint8_t{1});
    return out;
}

// The text of the runtime_error that call throws; empty when it throws none.
template <class Call>
std::string thrown_text(Call call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return {};
}

// A server session cipher taken through the handshake with a client.
class SessionCipher : public ::testing::Test {
  protected:
    // Initialize, import the service container and the client's key material.
    void authenticate(crypto_service& service, peer::client& client) {
        ASSERT_TRUE(service.initialize(m_factory, ec)) << ec.message();
        ASSERT_TRUE(service.import_container(peer::kServicePassword, m_container, ec));
        ASSERT_TRUE(service.import_key_material(client.key_material(), ec)) << ec.message();
    }

    // The whole handshake: both sides keyed with kIv.
    void open(crypto_service& service, peer::client& client) {
        authenticate(service, client);
        ASSERT_TRUE(service.create_encryptor(kSessionPassword, ec)) << ec.message();
        ASSERT_TRUE(service.set_iv(kIv, ec)) << ec.message();
        client.finish(service.export_key_material(), kSessionPassword, kIv);
    }
    void open() { open(m_service, m_client); }

    // Expects the call before to have failed with expected.
    void refused(bool failed, crypto_error expected) {
        EXPECT_TRUE(failed);
        EXPECT_EQ(ec, expected);
    }

    crypto_factory m_factory = fake::seeded();
    bytes m_container = peer::make_container(m_factory, peer::kServicePassword);
    crypto_service m_service;
    peer::client m_client{m_factory};
    std::error_code ec;
};

TEST_F(SessionCipher, UnpreparedCipherRefusesEveryOperation) {
    crypto_service& s = m_service;
    refused(!s.import_key_material(bytes(32, 1), ec), crypto_error::not_initialized);
    refused(!s.set_additional_private_parameter(bytes(4, 1), ec), crypto_error::not_initialized);
    refused(s.export_container(L"x", ec).empty(), crypto_error::not_initialized);
    refused(s.get_public_key(ec).empty(), crypto_error::not_initialized);
    refused(!s.create_encryptor(kSessionPassword, ec), crypto_error::not_initialized);
    refused(s.encrypt(sequence(4), ec).empty(), crypto_error::encryptor_not_created);
    refused(s.decrypt(sequence(16), ec).empty(), crypto_error::encryptor_not_created);
    refused(!s.set_iv(kIv, ec), crypto_error::encryptor_not_created);
    refused(s.get_size_for_encrypted_data(5, ec) == 0, crypto_error::encryptor_not_created);
    EXPECT_TRUE(s.export_key_material().empty());
    EXPECT_TRUE(s.get_symmetric_key_container(L"x").empty());
    EXPECT_TRUE(s.get_additional_private_parameter().empty());
    EXPECT_EQ(s.get_iv_size(), 0u);
    EXPECT_TRUE(s.get_iv().empty());
    EXPECT_EQ(thrown_text([&] { s.set_iv(kIv); }), "Encryptor not created");
    EXPECT_EQ(thrown_text([&] { s.set_iv(kIv.data(), kIv.size()); }), "Cryptographer not created");
    refused(s.random(16, ec).empty(), crypto_error::create_random_error);

    // Initialized, but without a container there is nothing to export or key.
    ASSERT_TRUE(s.initialize(m_factory, ec));
    EXPECT_FALSE(s.initialized());
    refused(s.export_container(L"x", ec).empty(), crypto_error::export_container_error);
    refused(!s.create_encryptor(kSessionPassword, ec), crypto_error::not_initialized);
    EXPECT_FALSE(s.ready());
    // With the service container but no key agreement there is no session key: the cipher
    // must not fall back to the container's storage key, which seals the database.
    ASSERT_TRUE(s.import_container(peer::kServicePassword, m_container, ec));
    refused(!s.create_encryptor(kSessionPassword, ec), crypto_error::export_key_material_error);
    EXPECT_TRUE(s.get_symmetric_key_container(L"x").empty());
    EXPECT_FALSE(s.ready());
    // Random bytes need only the initialization.
    const bytes a = s.random(32, ec);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, s.random(32, ec));
    refused(!s.random(nullptr, 8, ec), crypto_error::generate_random_error);
}

// Reinitialization and reset() drop the encryptor, a failed initialization everything;
// the key material survives a reset, and the cipher can be taken through the handshake again.
TEST_F(SessionCipher, ReinitializationAndResetsDropTheEncryptor) {
    open();
    ASSERT_TRUE(m_service.initialize(m_factory, ec));
    EXPECT_FALSE(m_service.ready());
    peer::client second(m_factory);
    open(m_service, second);
    const bytes answer = m_service.export_key_material();
    ASSERT_TRUE(m_service.reset(ec));
    EXPECT_FALSE(m_service.ready() || m_service.initialized());
    EXPECT_EQ(m_service.export_key_material(), answer);
    ASSERT_TRUE(m_service.import_container(peer::kServicePassword, m_container, ec));
    m_service.force_reset();
    EXPECT_FALSE(m_service.initialized());
    crypto_service never;
    never.force_reset();
    never.reset();
    EXPECT_FALSE(never.ready());

    // The provider refuses a null seed of non-zero length.
    open(m_service, second);
    EXPECT_FALSE(m_service.initialize(nullptr, 5, ec));
    EXPECT_EQ(ec, std::make_error_code(std::errc::not_enough_memory));
    EXPECT_FALSE(m_service.ready() || m_service.initialized());
    EXPECT_TRUE(m_service.get_public_key(ec).empty());
    refused(!m_service.import_container(peer::kServicePassword, m_container, ec),
            crypto_error::not_initialized);
}

TEST_F(SessionCipher, RefusedContainersAreInvalidPasswordAndKeepThePreviousKeys) {
    ASSERT_TRUE(m_service.initialize(m_factory, ec));
    ASSERT_TRUE(m_service.import_container(peer::kServicePassword, m_container, ec));
    EXPECT_TRUE(m_service.initialized());
    const bytes key = m_service.get_public_key(ec);

    bytes tampered = m_container;
    tampered[tampered.size() / 2] ^= 0x01;
    const std::pair<std::wstring, bytes> cases[] = {
        {L"wrong password", m_container},
        {L"not other", peer::make_container(m_factory, L"other")},
        {peer::kServicePassword, {}},
        {peer::kServicePassword, bytes(409, 0x30)},
        {peer::kServicePassword, tampered},
    };
    for (const auto& [password, container] : cases) {
        EXPECT_FALSE(m_service.import_container(password, container, ec));
        EXPECT_EQ(ec, crypto_error::invalid_password);
        EXPECT_EQ(ec.message(), "Invalid password");
        EXPECT_TRUE(m_service.initialized());
        EXPECT_EQ(m_service.get_public_key(ec), key);
    }

    // What the service exports opens elsewhere under the new password.
    const bytes exported = m_service.export_container(L"new", ec);
    crypto_service other;
    ASSERT_TRUE(other.initialize(m_factory, ec));
    EXPECT_TRUE(other.import_container(L"new", exported, ec)) << ec.message();
    EXPECT_EQ(other.get_public_key(ec), key);
}

TEST_F(SessionCipher, ClientAndServerShareTheSessionKeyAfterARefusedKeyMaterial) {
    authenticate(m_service, m_client);
    const bytes answer = m_service.export_key_material();
    EXPECT_EQ(answer.size(), 64u);
    EXPECT_FALSE(m_service.import_key_material(bytes(31, 9), ec));
    EXPECT_EQ(ec, crypto_error::import_key_material_error);
    EXPECT_EQ(m_service.export_key_material(), answer);

    // The private parameter enters the session key on both sides.
    const bytes parameter{1, 2, 3, 4};
    ASSERT_TRUE(m_service.set_additional_private_parameter(parameter, ec)) << ec.message();
    EXPECT_EQ(m_service.get_additional_private_parameter(), parameter);
    m_client.set_private_parameter(parameter);
    ASSERT_TRUE(m_service.create_encryptor(kSessionPassword, ec));
    ASSERT_TRUE(m_service.set_iv(kIv, ec));
    m_client.finish(answer, kSessionPassword, kIv);

    const bytes request = sequence(48);
    EXPECT_EQ(m_service.decrypt(m_client.encrypt(request), ec), request);
    EXPECT_FALSE(ec);
    const bytes reply = sequence(32);
    const bytes cipher = m_service.encrypt(reply, ec);
    EXPECT_NE(cipher, reply);
    EXPECT_EQ(m_client.decrypt(cipher), reply);
}

// A failed create_encryptor keeps what was there: the session's encryptor, or none. The
// symmetric key import refuses as it does for a key sealed under another password; block
// sizes that do not divide 16 are refused.
TEST_F(SessionCipher, FailedEncryptorKeepsWhatWasThere) {
    const auto wrong = std::make_shared<bool>(false);
    m_factory =
        fake::seeded(fake::factory_with([&](fake::script& s) { s.refuse_key_import = wrong; }));
    peer::client client(m_factory);
    open(m_service, client);
    crypto_service fresh;
    peer::client other_client(m_factory);
    authenticate(fresh, other_client);
    *wrong = true;
    for (crypto_service* service : {&m_service, &fresh}) {
        const bool was_ready = service->ready();
        refused(!service->create_encryptor(kSessionPassword, ec), crypto_error::invalid_password);
        EXPECT_EQ(service->ready(), was_ready);
    }
    // Still the session's key: the client reads what the server encrypts.
    const bytes plain = sequence(32);
    EXPECT_EQ(client.decrypt(m_service.encrypt(plain, ec)), plain);

    for (std::size_t block : {0u, 3u, 32u}) {
        SCOPED_TRACE(block);
        m_factory =
            fake::seeded(fake::factory_with([&](fake::script& s) { s.plain_block = block; }));
        crypto_service service;
        peer::client peer(m_factory);
        authenticate(service, peer);
        refused(!service.create_encryptor(kSessionPassword, ec),
                crypto_error::create_encryptor_error);
        EXPECT_FALSE(service.ready());
    }
}

TEST_F(SessionCipher, CipherWorksInWholeBlocksAndKeepsItsIvAgainstBadOnes) {
    open();
    const std::tuple<std::size_t, std::size_t, std::size_t> rows[] = {
        {0, 0, 0}, {1, 16, 15}, {16, 16, 0}, {17, 32, 15}, {4096, 4096, 0},
    };
    for (const auto& [n, size, padding] : rows) {
        ec = crypto_error::internal_error;
        EXPECT_EQ(m_service.encrypt(sequence(n), ec).size(), size) << n;
        EXPECT_FALSE(ec) << n;  // also for empty input
        EXPECT_EQ(m_service.get_size_for_encrypted_data(n, ec), size) << n;
        EXPECT_EQ(m_service.get_padding(n, ec), padding) << n;
    }
    // Decryption gives whole blocks too: the data, then the zero padding.
    bytes expected = sequence(17);
    expected.resize(32, 0);
    EXPECT_EQ(m_service.decrypt(m_service.encrypt(sequence(17), ec), ec), expected);
    ec = crypto_error::internal_error;
    EXPECT_TRUE(m_service.decrypt({}, ec).empty());
    EXPECT_FALSE(ec);
    EXPECT_TRUE(m_service.decrypt(bytes(17, 1), ec).empty());
    EXPECT_EQ(ec, crypto_error::decrypt_failure);

    // Refused IVs keep the current one.
    EXPECT_NE(thrown_text([&] { m_service.set_iv(nullptr, 16); }).find("iv_rawPtr"),
              std::string::npos);
    EXPECT_FALSE(m_service.set_iv(bytes(5, 1), ec));
    EXPECT_EQ(ec, crypto_error::set_iv_error);
    EXPECT_EQ(thrown_text([&] { m_service.set_iv(bytes(5, 1)); }), "Set initialize vector error");
    EXPECT_EQ(m_service.get_iv(), kIv);
    EXPECT_EQ(m_service.get_iv_size(), 16u);

    const bytes other(16, 0x33);
    EXPECT_EQ(thrown_text([&] { m_service.set_iv(other.data(), other.size()); }), "");
    EXPECT_EQ(m_service.get_iv(), other);
}

}  // namespace
