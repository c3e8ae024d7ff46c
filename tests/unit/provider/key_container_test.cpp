#include <gtest/gtest.h>
#include <openssl/err.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "test_support.h"

namespace provider_test {
namespace {

const std::wstring kPassword = L"correct horse battery staple";

class KeyContainerTest : public ::testing::Test {
  protected:
    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
};

// (depth, tag) of every element in document order.
using Outline = std::vector<std::pair<int, std::uint8_t>>;

void walk(const std::uint8_t* p, const std::uint8_t* end, int depth, Outline& out) {
    while (p < end) {
        const std::uint8_t tag = p[0];
        std::size_t length = p[1];
        std::size_t header = 2;
        if (length & 0x80) {
            const std::size_t count = length & 0x7F;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) {
                length = (length << 8) | p[2 + i];
            }
            header += count;
        }
        out.emplace_back(depth, tag);
        if (tag == 0x30) {
            walk(p + header, p + header + length, depth + 1, out);
        }
        p += header + length;
    }
}

Outline outline_of(const Bytes& der) {
    Outline out;
    walk(der.data(), der.data() + der.size(), 0, out);
    return out;
}

// The layout of a key container, element for element.
const Outline kExpectedOutline = {
    {0, 0x30},                                                         // KeyContainer
    {1, 0x02},                                                         // version
    {1, 0x30}, {2, 0x06}, {2, 0x06}, {2, 0x06}, {2, 0x06},             // algorithms
    {1, 0x30}, {2, 0x06}, {2, 0x02}, {2, 0x02}, {2, 0x30}, {3, 0x06},  // protection
    {1, 0x30},                                                         // keyAgreementKey
    {2, 0x02},                                                         //   version
    {2, 0x30}, {3, 0x06}, {3, 0x02},                                   //   algorithm
    {2, 0x02},                                                         //   keyId
    {2, 0x30}, {3, 0x02}, {3, 0x06}, {3, 0x02}, {3, 0x04}, {3, 0x02},  // wrap
    {2, 0x30}, {3, 0x06}, {3, 0x02}, {3, 0x02}, {3, 0x06},             //   publicInfo
    {2, 0x02}, {2, 0x04}, {2, 0x04},                                   //   length, wrapped, public
    {1, 0x30},                                                         // asymmetricKey
    {2, 0x02}, {2, 0x30}, {3, 0x06}, {3, 0x02}, {2, 0x02}, {2, 0x04},
    {2, 0x30}, {3, 0x02}, {3, 0x06},             //   publicInfo
    {1, 0x30}, {2, 0x02}, {2, 0x30}, {3, 0x18},  // created
    {1, 0x04},                                   // asymmetricPublicKey
    {1, 0x04},                                   // salt
};

TEST_F(KeyContainerTest, ImportWithTheRightPasswordGivesTheSameKeys) {
    auto creator = factory_->create_key_agreement(L"");
    const Bytes container = creator->create_container(kPassword, kReferenceTime, kFastIterations);

    auto agreement = factory_->create_key_agreement(L"");
    EXPECT_FALSE(agreement->is_initialized());
    agreement->import_container(container.data(), container.size(), kPassword);
    EXPECT_TRUE(agreement->is_initialized());
    EXPECT_EQ(agreement->get_public_key(), creator->get_public_key());
    EXPECT_EQ(agreement->get_creation_time(), kReferenceTime);

    auto asymmetric = factory_->create_asymmetric(L"");
    asymmetric->import_container(container.data(), container.size(), kPassword);
    ASSERT_TRUE(asymmetric->is_ready(0));
    EXPECT_TRUE(asymmetric->has_private_key());
    // The asymmetric public key is the 32-byte OCTET STRING before the 16-byte salt.
    const Bytes spki = asymmetric->export_public_key(0);
    const Bytes stored(container.end() - 18 - 32, container.end() - 18);
    EXPECT_EQ(Bytes(spki.end() - 32, spki.end()), stored);
}

TEST_F(KeyContainerTest, LayoutFollowsTheFixedOutline) {
    const Bytes container = make_container(*factory_, kPassword);
    EXPECT_EQ(outline_of(container), kExpectedOutline);
}

TEST_F(KeyContainerTest, ReferenceFixtureHasTheLayoutTimeAndSize) {
    const Bytes fixture = read_file(ZT_PROVIDER_TEST_DATA "/reference_container.der");
    ASSERT_EQ(fixture.size(), 409u);
    EXPECT_EQ(outline_of(fixture), kExpectedOutline);
    auto agreement = factory_->create_key_agreement(L"");
    agreement->import_container(fixture.data(), fixture.size(), L"reference-password");
    EXPECT_EQ(agreement->get_creation_time(), kReferenceTime);
}

TEST_F(KeyContainerTest, SizeDependsOnlyOnTheIterationCount) {
    // 1000 and 32767 take a two-byte INTEGER, 32768 a three-byte one (leading zero byte).
    EXPECT_EQ(make_container(*factory_, kPassword, 1000).size(), 408u);
    EXPECT_EQ(make_container(*factory_, kPassword, 32767).size(), 408u);
    EXPECT_EQ(make_container(*factory_, kPassword, 32768).size(), 409u);
}

TEST_F(KeyContainerTest, WrongPasswordIsRefused) {
    const Bytes container = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    try {
        agreement->import_container(container.data(), container.size(), L"wrong password");
        FAIL() << "a wrong password was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), Exception::authentication_failed);
    }
    EXPECT_FALSE(agreement->is_initialized());
    auto asymmetric = factory_->create_asymmetric(L"");
    EXPECT_THROW(asymmetric->import_container(container.data(), container.size(), L""), Exception);
}

TEST_F(KeyContainerTest, EveryFlippedByteIsRefused) {
    const Bytes container = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    auto asymmetric = factory_->create_asymmetric(L"");
    for (std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0xFF}}) {
        for (std::size_t i = 0; i < container.size(); ++i) {
            Bytes changed = container;
            changed[i] ^= mask;
            EXPECT_THROW(agreement->import_container(changed.data(), changed.size(), kPassword),
                         Exception)
                << "key agreement accepted byte " << i << " ^ " << int{mask};
            EXPECT_THROW(asymmetric->import_container(changed.data(), changed.size(), kPassword),
                         Exception)
                << "asymmetric accepted byte " << i << " ^ " << int{mask};
        }
    }
    EXPECT_FALSE(agreement->is_initialized());
    EXPECT_FALSE(asymmetric->is_ready(0));
}

TEST_F(KeyContainerTest, FailuresLeaveNoOpenSslErrorBehind) {
    const Bytes container = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    ERR_clear_error();
    EXPECT_THROW(agreement->import_container(container.data(), container.size(), L"wrong"),
                 Exception);
    EXPECT_EQ(ERR_peek_error(), 0u);
    const Bytes zero(32, 0);
    auto server = factory_->create_key_agreement(L"");
    server->import_container(container.data(), container.size(), kPassword);
    EXPECT_THROW(server->import_key_material(RawMemoryDefault::view(zero.data(), zero.size())),
                 Exception);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(KeyContainerTest, EveryTruncationAndAnyTrailingByteIsRefused) {
    const Bytes container = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    for (std::size_t size = 0; size < container.size(); ++size) {
        EXPECT_THROW(agreement->import_container(container.data(), size, kPassword), Exception)
            << "accepted the first " << size << " bytes";
    }
    Bytes longer = container;
    longer.push_back(0);
    EXPECT_THROW(agreement->import_container(longer.data(), longer.size(), kPassword), Exception);
    EXPECT_THROW(agreement->import_container(nullptr, 10, kPassword), InvalidArgumentException);
}

TEST_F(KeyContainerTest, FailedImportKeepsThePreviousContainer) {
    const Bytes first = make_container(*factory_, kPassword);
    const Bytes second = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    agreement->import_container(first.data(), first.size(), kPassword);
    const Bytes before = agreement->get_public_key();
    EXPECT_THROW(agreement->import_container(second.data(), second.size(), L"other"), Exception);
    EXPECT_EQ(agreement->get_public_key(), before);
}

TEST_F(KeyContainerTest, StorageKeyIsTheSameForOneContainerAndDiffersBetweenContainers) {
    const Bytes first = make_container(*factory_, kPassword);
    const Bytes second = make_container(*factory_, kPassword);
    auto storage_key = [&](const Bytes& container) {
        // A fresh factory each time, as on a new run of the daemon.
        auto factory = make_factory();
        auto agreement = factory->create_key_agreement(L"");
        agreement->import_container(container.data(), container.size(), kPassword);
        return key_fingerprint(*factory, agreement->get_symmetric_key_container(L"pw"), L"pw");
    };
    EXPECT_EQ(storage_key(first), storage_key(first));
    EXPECT_NE(storage_key(first), storage_key(second));
}

TEST_F(KeyContainerTest, ReExportOpensOnlyWithTheNewPasswordAndKeepsTheKeys) {
    auto agreement = factory_->create_key_agreement(L"");
    const Bytes original = agreement->create_container(kPassword, kReferenceTime, kFastIterations);
    const Bytes storage = agreement->get_symmetric_key_container(L"pw");
    const Bytes exported = agreement->export_container(L"new password");
    EXPECT_NE(exported, original);

    auto reopened = factory_->create_key_agreement(L"");
    EXPECT_THROW(reopened->import_container(exported.data(), exported.size(), kPassword),
                 Exception);
    reopened->import_container(exported.data(), exported.size(), L"new password");
    EXPECT_EQ(reopened->get_public_key(), agreement->get_public_key());
    EXPECT_EQ(reopened->get_creation_time(), kReferenceTime);
    EXPECT_EQ(key_fingerprint(*factory_, reopened->get_symmetric_key_container(L"pw"), L"pw"),
              key_fingerprint(*factory_, storage, L"pw"));
    EXPECT_EQ(outline_of(exported), kExpectedOutline);
}

TEST_F(KeyContainerTest, NonAsciiPasswordsWork) {
    const std::wstring password = L"\u043f\u0430\u0440\u043e\u043b\u044c \U0001F511";
    const Bytes container = make_container(*factory_, password);
    auto agreement = factory_->create_key_agreement(L"");
    agreement->import_container(container.data(), container.size(), password);
    EXPECT_TRUE(agreement->is_initialized());
    const std::wstring surrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_THROW(make_container(*factory_, surrogate), InvalidArgumentException);
}

TEST_F(KeyContainerTest, CreationRefusesBadArguments) {
    auto agreement = factory_->create_key_agreement(L"");
    struct Case {
        std::wstring password;
        std::time_t created;
        std::uint32_t iterations;
        const char* argument;
    };
    const Case cases[] = {
        {L"", kReferenceTime, kFastIterations, "password"},
        {kPassword, kReferenceTime, 999, "iterations"},
        {kPassword, kReferenceTime, 10000001, "iterations"},
        {kPassword, 253402300800, kFastIterations, "created"},  // year 10000
    };
    for (const Case& c : cases) {
        try {
            agreement->create_container(c.password, c.created, c.iterations);
            ADD_FAILURE() << "accepted bad " << c.argument;
        } catch (const InvalidArgumentException& e) {
            EXPECT_EQ(e.argument(), c.argument);
        }
    }
    EXPECT_FALSE(agreement->is_initialized());
}

TEST_F(KeyContainerTest, ExportWithoutContainerThrows) {
    auto agreement = factory_->create_key_agreement(L"");
    EXPECT_THROW(agreement->export_container(kPassword), Exception);
    EXPECT_THROW(agreement->get_symmetric_key_container(kPassword), Exception);
    EXPECT_THROW(agreement->get_public_key(), Exception);
}

TEST_F(KeyContainerTest, InitializeForgetsTheContainer) {
    const Bytes container = make_container(*factory_, kPassword);
    auto agreement = factory_->create_key_agreement(L"");
    agreement->import_container(container.data(), container.size(), kPassword);
    agreement->initialize();
    EXPECT_FALSE(agreement->is_initialized());
    EXPECT_THROW(agreement->get_symmetric_key_container(kPassword), Exception);
}

}  // namespace
}  // namespace provider_test
