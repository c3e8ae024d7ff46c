#include <gtest/gtest.h>
#include <openssl/err.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "test_support.h"

namespace provider_test {
namespace {

const std::wstring kServicePassword = L"service password";
const std::wstring kTransport = L"transport";

class KeyAgreementTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const Bytes container = make_container(*factory_, kServicePassword);
        server_->import_container(container.data(), container.size(), kServicePassword);
    }

    // The server's 64-byte answer to a client's key material.
    Bytes answer_to(const Bytes& hello) {
        auto [answer, flag] = server_->import_key_material(view(hello));
        EXPECT_TRUE(flag);
        return answer->to_vector();
    }

    // Runs the exchange: the client's key material to the server, its answer back.
    std::shared_ptr<DiffieHellmanBase> connect_client() {
        auto client = factory_->create_key_agreement(L"");
        client->import_server_key_material(view(answer_to(client->create_client_key_material())));
        return client;
    }

    Bytes session_key(DiffieHellmanBase& side) {
        return key_fingerprint(*factory_, side.get_symmetric_key_container(kTransport), kTransport);
    }

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
    std::shared_ptr<DiffieHellmanBase> server_ = factory_->create_key_agreement(L"");
};

TEST_F(KeyAgreementTest, AnswerCarriesTheServerStaticKeyAfterAFreshEphemeralKey) {
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    const Bytes a = answer_to(hello);
    const Bytes b = answer_to(hello);
    ASSERT_EQ(a.size(), 64u);
    EXPECT_EQ(Bytes(a.begin() + 32, a.end()), server_->get_public_key());
    EXPECT_EQ(Bytes(b.begin() + 32, b.end()), server_->get_public_key());
    EXPECT_NE(Bytes(a.begin(), a.begin() + 32), Bytes(b.begin(), b.begin() + 32));
}

TEST_F(KeyAgreementTest, ThirdPartyMaterialGivesADifferentKey) {
    auto client = connect_client();
    // An eavesdropper who saw an answer but holds its own ephemeral key.
    auto intruder = factory_->create_key_agreement(L"");
    intruder->create_client_key_material();
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    intruder->import_server_key_material(view(answer_to(hello)));
    EXPECT_NE(session_key(*intruder), session_key(*server_));
    EXPECT_NE(session_key(*intruder), session_key(*client));

    // A client given another container's static key in the answer.
    auto misled = factory_->create_key_agreement(L"");
    Bytes forged = answer_to(misled->create_client_key_material());
    auto other = factory_->create_key_agreement(L"");
    other->create_container(kServicePassword, kReferenceTime, kFastIterations);
    const Bytes other_static = other->get_public_key();
    std::copy(other_static.begin(), other_static.end(), forged.begin() + 32);
    misled->import_server_key_material(view(forged));
    EXPECT_NE(session_key(*misled), session_key(*server_));
}

TEST_F(KeyAgreementTest, BothSidesDeriveOneSessionKeyWithThePrivateParameterInIt) {
    // Before an agreement there is no session key, and never the storage key instead.
    EXPECT_THROW(session_key(*server_), Exception);
    const Bytes storage =
        key_fingerprint(*factory_, server_->get_storage_key_container(kTransport), kTransport);
    auto client = connect_client();
    const Bytes without = session_key(*server_);
    EXPECT_EQ(without, session_key(*client));
    EXPECT_NE(without, storage);
    const Bytes parameter = {1, 2, 3, 4};
    EXPECT_THROW(server_->set_additional_private_parameter(parameter.data(), 4, 1),
                 InvalidArgumentException);
    server_->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    EXPECT_NE(session_key(*server_), without);
    EXPECT_NE(session_key(*server_), session_key(*client));
    client->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    EXPECT_EQ(session_key(*server_), session_key(*client));
}

TEST_F(KeyAgreementTest, MaterialNeedsAContainerOrClientKeyExactSizesAndANonDegeneratePeerKey) {
    auto empty = factory_->create_key_agreement(L"");
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    EXPECT_THROW(empty->import_key_material(view(hello)), Exception);
    EXPECT_THROW(empty->import_server_key_material(view(Bytes(64, 9))), Exception);
    EXPECT_THROW(server_->import_key_material(RawMemoryDefault::view(hello.data(), 31)),
                 InvalidArgumentException);
    EXPECT_THROW(server_->import_key_material(RawMemoryDefault()), InvalidArgumentException);
    // The all-zero point gives an all-zero shared value, which must never become a key.
    ERR_clear_error();
    EXPECT_THROW(server_->import_key_material(view(Bytes(32, 0))), Exception);
    EXPECT_EQ(ERR_peek_error(), 0u);
    auto client = factory_->create_key_agreement(L"");
    client->create_client_key_material();
    EXPECT_THROW(client->import_server_key_material(view(Bytes(64, 0))), Exception);
}

TEST_F(KeyAgreementTest, InitializeForgetsContainerAgreementAndParameter) {
    connect_client();
    const Bytes parameter = {7};
    server_->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    server_->initialize();
    EXPECT_FALSE(server_->is_initialized());
    EXPECT_TRUE(server_->get_additional_private_parameter().empty());
    EXPECT_THROW(server_->get_symmetric_key_container(kTransport), Exception);
    EXPECT_THROW(server_->export_container(kServicePassword), Exception);
    EXPECT_THROW(server_->get_public_key(), Exception);
}

TEST_F(KeyAgreementTest, DerivedSecretsAreHkdfOfTheContainerKeyAndNeverTheStorageKey) {
    // Known answers computed outside the provider from the reference container's
    // key-agreement private key: HKDF-SHA256, no salt, the label as info.
    std::ifstream in(ZT_PROVIDER_TEST_DATA "/reference_container.der", std::ios::binary);
    const Bytes fixture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto holder = factory_->create_key_agreement(L"");
    EXPECT_THROW(holder->derive_secret("ztctl token"), Exception);
    holder->import_container(fixture.data(), fixture.size(), L"reference-password");
    const struct {
        std::string label;
        std::string hex;
    } known[] = {
        {"ztctl token", "8b7313a0da1f7ba3521ef4783083485222541225191efad7c33cbcedea7cc8d5"},
        {"ztctl disk key", "05fa62e8e74eebd84f123ea99b7500a25d084347c428554b97555f170cfedd1a"},
    };
    for (const auto& row : known) {
        const RawMemoryDefault secret = holder->derive_secret(row.label);
        EXPECT_TRUE(secret.owns());
        std::string hex;
        for (std::uint8_t b : secret.to_vector()) {
            hex += "0123456789abcdef"[b >> 4];
            hex += "0123456789abcdef"[b & 15];
        }
        EXPECT_EQ(hex, row.hex) << row.label;
    }
    // The storage key that seals the database is not to be had under its label.
    expect_invalid_argument([&] { holder->derive_secret("storage"); }, "label");
    expect_invalid_argument([&] { holder->derive_secret(""); }, "label");
    // Another container gives other secrets.
    EXPECT_NE(server_->derive_secret("ztctl token").to_vector(),
              holder->derive_secret("ztctl token").to_vector());
}

TEST_F(KeyAgreementTest, SealedSecretsOpenOnlyForTheSameContainerLabelAndBytes) {
    const Bytes disk_key(32, 0x5a);
    const Bytes sealed = server_->seal_secret("ztctl disk key", disk_key.data(), disk_key.size());
    ASSERT_EQ(sealed.size(), 1 + 12 + disk_key.size() + 16);
    EXPECT_EQ(server_->open_secret("ztctl disk key", sealed.data(), sealed.size()).to_vector(),
              disk_key);
    // A fresh nonce each time: equal keys never give equal records.
    EXPECT_NE(server_->seal_secret("ztctl disk key", disk_key.data(), disk_key.size()), sealed);

    auto other = factory_->create_key_agreement(L"");
    const Bytes container = other->create_container(L"other", 1700000000, 1000);
    other->import_container(container.data(), container.size(), L"other");
    EXPECT_THROW(other->open_secret("ztctl disk key", sealed.data(), sealed.size()), Exception);
    EXPECT_THROW(server_->open_secret("ztctl token", sealed.data(), sealed.size()), Exception);
    expect_every_changed_byte_refused(sealed, [&](const Bytes& changed) {
        server_->open_secret("ztctl disk key", changed.data(), changed.size());
    });
    Bytes version = sealed;
    version[0] = 2;
    expect_invalid_argument(
        [&] { server_->open_secret("ztctl disk key", version.data(), version.size()); }, "sealed");
    expect_invalid_argument([&] { server_->seal_secret("storage", disk_key.data(), 32); }, "label");
}

}  // namespace
}  // namespace provider_test
