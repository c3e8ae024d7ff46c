#include <gtest/gtest.h>
#include <openssl/err.h>

#include <fstream>
#include <iterator>
#include <tuple>

#include "test_support.h"

namespace provider_test {
namespace {

// Not ASCII, so that every round trip also covers the password's UTF-8 form.
const std::wstring kPassword = L"\u043f\u0430\u0440\u043e\u043b\u044c \U0001F511 staple";

class KeyContainerTest : public ::testing::Test {
  protected:
    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
    std::shared_ptr<DiffieHellmanBase> agreement_ = factory_->create_key_agreement(L"");
    std::shared_ptr<AsymmetcricEncrypterBase> asymmetric_ = factory_->create_asymmetric(L"");
};

TEST_F(KeyContainerTest, ImportWithTheRightPasswordGivesTheSameKeysAlsoForTheReference) {
    auto creator = factory_->create_key_agreement(L"");
    const Bytes container = creator->create_container(kPassword, kReferenceTime, kFastIterations);

    agreement_->import_container(container.data(), container.size(), kPassword);
    EXPECT_TRUE(agreement_->is_initialized());
    EXPECT_EQ(agreement_->get_public_key(), creator->get_public_key());
    EXPECT_EQ(agreement_->get_creation_time(), kReferenceTime);

    asymmetric_->import_container(container.data(), container.size(), kPassword);
    ASSERT_TRUE(asymmetric_->has_private_key());
    // The asymmetric public key is the 32-byte OCTET STRING before the 16-byte salt.
    const Bytes spki = asymmetric_->export_public_key(0);
    const Bytes stored(container.end() - 18 - 32, container.end() - 18);
    EXPECT_EQ(Bytes(spki.end() - 32, spki.end()), stored);

    // The committed reference container, made by an earlier build, still imports.
    std::ifstream in(ZT_PROVIDER_TEST_DATA "/reference_container.der", std::ios::binary);
    const Bytes fixture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(fixture.size(), 409u);
    agreement_->import_container(fixture.data(), fixture.size(), L"reference-password");
    EXPECT_EQ(agreement_->get_creation_time(), kReferenceTime);
}

TEST_F(KeyContainerTest, SizeDependsOnlyOnTheIterationCount) {
    // 1000 and 32767 take a two-byte INTEGER, 32768 a three-byte one (leading zero byte).
    const std::pair<std::uint32_t, std::size_t> cases[] = {{1000, 408}, {32767, 408}, {32768, 409}};
    for (const auto& [iterations, size] : cases) {
        EXPECT_EQ(make_container(*factory_, kPassword, iterations).size(), size) << iterations;
    }
}

TEST_F(KeyContainerTest, WrongPasswordIsRefusedKeepsThePreviousKeysAndLeavesNoOpenSslError) {
    const Bytes first = make_container(*factory_, kPassword);
    const Bytes c = make_container(*factory_, kPassword);
    ERR_clear_error();
    expect_code([&] { agreement_->import_container(c.data(), c.size(), L"wrong"); },
                Exception::authentication_failed);
    EXPECT_EQ(ERR_peek_error(), 0u);
    EXPECT_FALSE(agreement_->is_initialized());
    EXPECT_THROW(asymmetric_->import_container(c.data(), c.size(), L"wrong"), Exception);

    agreement_->import_container(first.data(), first.size(), kPassword);
    const Bytes before = agreement_->get_public_key();
    EXPECT_THROW(agreement_->import_container(c.data(), c.size(), L"other"), Exception);
    EXPECT_EQ(agreement_->get_public_key(), before);
}

TEST_F(KeyContainerTest, EveryChangedByteEveryTruncationAndAnyTrailingByteIsRefused) {
    Bytes container = make_container(*factory_, kPassword);
    expect_every_changed_byte_refused(container, [&](const Bytes& c) {
        try {
            agreement_->import_container(c.data(), c.size(), kPassword);
        } catch (const Exception&) {
            asymmetric_->import_container(c.data(), c.size(), kPassword);  // must throw, too
        }
    });
    EXPECT_FALSE(agreement_->is_initialized());
    EXPECT_FALSE(asymmetric_->is_ready(0));
    for (std::size_t size = 0; size < container.size(); ++size) {
        EXPECT_THROW(agreement_->import_container(container.data(), size, kPassword), Exception)
            << "accepted the first " << size << " bytes";
    }
    container.push_back(0);
    EXPECT_THROW(agreement_->import_container(container.data(), container.size(), kPassword),
                 Exception);
    EXPECT_THROW(agreement_->import_container(nullptr, 10, kPassword), InvalidArgumentException);
}

TEST_F(KeyContainerTest, StorageKeyIsTheSameForOneContainerAndDiffersBetweenContainers) {
    const Bytes first = make_container(*factory_, kPassword);
    const Bytes second = make_container(*factory_, kPassword);
    auto storage_key = [&](const Bytes& container) {
        // A fresh factory each time, as on a new run of the daemon.
        auto factory = make_factory();
        auto agreement = factory->create_key_agreement(L"");
        agreement->import_container(container.data(), container.size(), kPassword);
        return key_fingerprint(*factory, agreement->get_storage_key_container(L"pw"), L"pw");
    };
    EXPECT_EQ(storage_key(first), storage_key(first));
    EXPECT_NE(storage_key(first), storage_key(second));
}

TEST_F(KeyContainerTest, ReExportOpensOnlyWithTheNewPasswordAndKeepsTheKeys) {
    const Bytes original = agreement_->create_container(kPassword, kReferenceTime, kFastIterations);
    const Bytes storage = agreement_->get_storage_key_container(L"pw");
    const Bytes exported = agreement_->export_container(L"new password");
    EXPECT_NE(exported, original);

    auto reopened = factory_->create_key_agreement(L"");
    EXPECT_THROW(reopened->import_container(exported.data(), exported.size(), kPassword),
                 Exception);
    reopened->import_container(exported.data(), exported.size(), L"new password");
    EXPECT_EQ(reopened->get_public_key(), agreement_->get_public_key());
    EXPECT_EQ(reopened->get_creation_time(), kReferenceTime);
    EXPECT_EQ(key_fingerprint(*factory_, reopened->get_storage_key_container(L"pw"), L"pw"),
              key_fingerprint(*factory_, storage, L"pw"));
}

TEST_F(KeyContainerTest, CreationRefusesBadArguments) {
    const std::wstring lone_surrogate(1, static_cast<wchar_t>(0xD800));  // has no UTF-8 form
    const std::tuple<std::wstring, std::time_t, std::uint32_t, const char*> cases[] = {
        {L"", kReferenceTime, kFastIterations, "password"},
        {lone_surrogate, kReferenceTime, kFastIterations, "password"},
        {kPassword, kReferenceTime, 999, "iterations"},
        {kPassword, kReferenceTime, 10000001, "iterations"},
        {kPassword, 253402300800, kFastIterations, "created"},  // year 10000
    };
    for (const auto& [password, created, iterations, argument] : cases) {
        expect_invalid_argument(
            [&] { agreement_->create_container(password, created, iterations); }, argument);
    }
    EXPECT_FALSE(agreement_->is_initialized());
}

}  // namespace
}  // namespace provider_test
