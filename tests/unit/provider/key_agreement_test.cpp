#include <gtest/gtest.h>

#include "test_support.h"

namespace provider_test {
namespace {

const std::wstring kServicePassword = L"service password";
const std::wstring kTransport = L"transport";

class KeyAgreementTest : public ::testing::Test {
  protected:
    void SetUp() override {
        container_ = make_container(*factory_, kServicePassword);
        server_ = factory_->create_key_agreement(L"");
        server_->import_container(container_.data(), container_.size(), kServicePassword);
    }

    // Runs the exchange: the client's key material to the server, its answer back.
    std::shared_ptr<DiffieHellmanBase> connect_client() {
        auto client = factory_->create_key_agreement(L"");
        const Bytes hello = client->create_client_key_material();
        EXPECT_EQ(hello.size(), 32u);
        auto [answer, flag] =
            server_->import_key_material(RawMemoryDefault::view(hello.data(), hello.size()));
        EXPECT_TRUE(flag);
        EXPECT_EQ(answer->size(), 64u);
        client->import_server_key_material(*answer);
        return client;
    }

    Bytes session_key(DiffieHellmanBase& side) {
        return key_fingerprint(*factory_, side.get_symmetric_key_container(kTransport), kTransport);
    }

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
    Bytes container_;
    std::shared_ptr<DiffieHellmanBase> server_;
};

TEST_F(KeyAgreementTest, ServerAndClientDeriveTheSameSessionKey) {
    auto client = connect_client();
    EXPECT_EQ(session_key(*server_), session_key(*client));
}

TEST_F(KeyAgreementTest, AnswerCarriesTheServerStaticKeyAfterAFreshEphemeralKey) {
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    auto first = server_->import_key_material(RawMemoryDefault::view(hello.data(), hello.size()));
    auto second = server_->import_key_material(RawMemoryDefault::view(hello.data(), hello.size()));
    const Bytes a = first.first->to_vector();
    const Bytes b = second.first->to_vector();
    EXPECT_EQ(Bytes(a.begin() + 32, a.end()), server_->get_public_key());
    EXPECT_EQ(Bytes(b.begin() + 32, b.end()), server_->get_public_key());
    EXPECT_NE(Bytes(a.begin(), a.begin() + 32), Bytes(b.begin(), b.begin() + 32));
}

TEST_F(KeyAgreementTest, SessionKeyDiffersFromTheStorageKey) {
    const Bytes storage = session_key(*server_);
    connect_client();
    EXPECT_NE(session_key(*server_), storage);
}

TEST_F(KeyAgreementTest, ThirdPartyMaterialGivesADifferentKey) {
    auto client = connect_client();
    // An eavesdropper who saw the answer but holds its own ephemeral key.
    auto intruder = factory_->create_key_agreement(L"");
    intruder->create_client_key_material();
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    auto [answer, flag] =
        server_->import_key_material(RawMemoryDefault::view(hello.data(), hello.size()));
    ASSERT_TRUE(flag);
    intruder->import_server_key_material(*answer);
    EXPECT_NE(session_key(*intruder), session_key(*server_));
    EXPECT_NE(session_key(*intruder), session_key(*client));
}

TEST_F(KeyAgreementTest, ClientAgainstAnotherServerContainerDisagrees) {
    auto client = factory_->create_key_agreement(L"");
    const Bytes hello = client->create_client_key_material();
    auto [answer, flag] =
        server_->import_key_material(RawMemoryDefault::view(hello.data(), hello.size()));
    // Replace the static half with another container's key-agreement key.
    auto other = factory_->create_key_agreement(L"");
    other->create_container(kServicePassword, kReferenceTime, kFastIterations);
    const Bytes other_static = other->get_public_key();
    Bytes forged = answer->to_vector();
    std::copy(other_static.begin(), other_static.end(), forged.begin() + 32);
    client->import_server_key_material(RawMemoryDefault::view(forged.data(), forged.size()));
    EXPECT_NE(session_key(*client), session_key(*server_));
}

TEST_F(KeyAgreementTest, PrivateParameterEntersTheSessionKeyOnBothSides) {
    auto client = connect_client();
    const Bytes without = session_key(*server_);
    const Bytes parameter = {1, 2, 3, 4};
    server_->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    EXPECT_EQ(server_->get_additional_private_parameter(), parameter);
    EXPECT_NE(session_key(*server_), without);
    EXPECT_NE(session_key(*server_), session_key(*client));
    client->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    EXPECT_EQ(session_key(*server_), session_key(*client));
}

TEST_F(KeyAgreementTest, KeyMaterialNeedsAContainerAndA32ByteKey) {
    auto empty = factory_->create_key_agreement(L"");
    const Bytes hello = factory_->create_key_agreement(L"")->create_client_key_material();
    EXPECT_THROW(empty->import_key_material(RawMemoryDefault::view(hello.data(), hello.size())),
                 Exception);
    EXPECT_THROW(server_->import_key_material(RawMemoryDefault::view(hello.data(), 31)),
                 InvalidArgumentException);
    EXPECT_THROW(server_->import_key_material(RawMemoryDefault()), InvalidArgumentException);
}

TEST_F(KeyAgreementTest, DegeneratePeerKeyIsRefused) {
    // The all-zero point gives an all-zero shared value, which must never become a key.
    const Bytes zero(32, 0);
    EXPECT_THROW(server_->import_key_material(RawMemoryDefault::view(zero.data(), zero.size())),
                 Exception);
    auto client = factory_->create_key_agreement(L"");
    client->create_client_key_material();
    const Bytes zeros(64, 0);
    EXPECT_THROW(client->import_server_key_material(RawMemoryDefault::view(zeros.data(), 64)),
                 Exception);
}

TEST_F(KeyAgreementTest, ServerAnswerWithoutClientMaterialIsRefused) {
    auto client = factory_->create_key_agreement(L"");
    const Bytes answer(64, 9);
    EXPECT_THROW(client->import_server_key_material(RawMemoryDefault::view(answer.data(), 64)),
                 Exception);
}

TEST_F(KeyAgreementTest, InitializeClearsTheAgreementAndTheParameter) {
    connect_client();
    const Bytes parameter = {7};
    server_->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    server_->initialize();
    EXPECT_FALSE(server_->is_initialized());
    EXPECT_TRUE(server_->get_additional_private_parameter().empty());
    EXPECT_THROW(server_->get_symmetric_key_container(kTransport), Exception);
}

TEST_F(KeyAgreementTest, SymmetricKeyContainerOpensOnlyWithItsPassword) {
    const Bytes sealed = server_->get_symmetric_key_container(kTransport);
    auto algorithm = factory_->create_symmetric(L"");
    EXPECT_THROW(algorithm->import_key(L"other", sealed.data(), sealed.size()), Exception);
    EXPECT_FALSE(algorithm->is_key_ready());
    for (std::size_t i = 0; i < sealed.size(); ++i) {
        Bytes changed = sealed;
        changed[i] ^= 0x01;
        EXPECT_THROW(algorithm->import_key(kTransport, changed.data(), changed.size()), Exception)
            << "accepted a change at byte " << i;
    }
    algorithm->import_key(kTransport, sealed.data(), sealed.size());
    EXPECT_TRUE(algorithm->is_key_ready());
}

TEST_F(KeyAgreementTest, PrivateParameterRejectsANonZeroMode) {
    const Bytes parameter = {1};
    EXPECT_THROW(server_->set_additional_private_parameter(parameter.data(), 1, 1),
                 InvalidArgumentException);
}

}  // namespace
}  // namespace provider_test
