#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "test_support.h"

namespace provider_test {
namespace {

class AsymmetricTest : public ::testing::Test {
  protected:
    std::shared_ptr<AsymmetcricEncrypterBase> make_pair() {
        auto asymmetric = factory_->create_asymmetric(L"");
        asymmetric->initialize();
        return asymmetric;
    }

    std::shared_ptr<SymmetricAlgoritmBase> make_key() {
        auto key = factory_->create_symmetric(L"");
        key->generate_key();
        return key;
    }

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
};

TEST_F(AsymmetricTest, PublicKeyAndWrappingNeedInitializeAndModeZero) {
    auto asymmetric = factory_->create_asymmetric(L"");
    EXPECT_THROW(make_key()->export_wrapped_key(*asymmetric), Exception);
    EXPECT_THROW(factory_->create_symmetric(L"")->export_wrapped_key(*make_pair()), Exception);
    EXPECT_FALSE(asymmetric->is_ready(0));
    EXPECT_THROW(asymmetric->export_public_key(0), Exception);
    asymmetric->initialize();
    EXPECT_TRUE(asymmetric->is_ready(0));
    EXPECT_THROW(asymmetric->export_public_key(1), InvalidArgumentException);
    EXPECT_THROW(asymmetric->is_ready(1), InvalidArgumentException);
}

TEST_F(AsymmetricTest, OpensslReadsTheExportedPublicKeyAsSpkiDer) {
    if (std::system("command -v openssl >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the openssl command is not installed";
    }
    const Bytes spki = make_pair()->export_public_key(0);
    char dir_template[] = "/tmp/zt_provider_spki_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string key = std::string(dir_template) + "/key.der";
    std::ofstream(key, std::ios::binary)
        .write(reinterpret_cast<const char*>(spki.data()),
               static_cast<std::streamsize>(spki.size()));
    // It names the key X25519 and writes it back byte for byte.
    const std::string pkey = "openssl pkey -pubin -inform DER -in " + key;
    const int status = std::system(
        (pkey + " -noout -text | grep -q X25519 && " + pkey + " -outform DER | cmp -s - " + key)
            .c_str());
    std::system(("rm -rf " + std::string(dir_template)).c_str());
    EXPECT_EQ(status, 0) << "openssl refused the key or read it differently";
}

TEST_F(AsymmetricTest, WrappedKeyOpensOnlyWithTheMatchingPrivateKey) {
    auto recipient = make_pair();
    auto stranger = make_pair();
    auto key = make_key();

    // The sender knows only the recipient's public key.
    auto sender = factory_->create_asymmetric(L"");
    const Bytes spki = recipient->export_public_key(0);
    sender->import_public_key(spki.data(), spki.size());
    EXPECT_FALSE(sender->has_private_key());
    const Bytes wrapped = key->export_wrapped_key(*sender);
    EXPECT_EQ(wrapped.size(), 80u);
    // A fresh ephemeral key each time: the all-zero GCM nonce is never reused under one key.
    EXPECT_NE(key->export_wrapped_key(*sender), wrapped);

    auto opened = factory_->create_symmetric(L"");
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size(), *stranger), Exception);
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size(), *sender), Exception);
    expect_every_changed_byte_refused(wrapped, [&](const Bytes& changed) {
        opened->import_wrapped_key(changed.data(), changed.size(), *recipient);
    });
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size() - 1, *recipient),
                 InvalidArgumentException);
    EXPECT_FALSE(opened->is_key_ready());
    opened->import_wrapped_key(wrapped.data(), wrapped.size(), *recipient);
    EXPECT_EQ(fingerprint(*opened), fingerprint(*key));
}

TEST_F(AsymmetricTest, ImportPublicKeyAcceptsSpkiAndRawKeysOnly) {
    const Bytes spki = make_pair()->export_public_key(0);
    auto from_spki = factory_->create_asymmetric(L"");
    from_spki->import_public_key(spki.data(), spki.size());
    EXPECT_EQ(from_spki->export_public_key(0), spki);
    auto from_raw = factory_->create_asymmetric(L"");
    from_raw->import_public_key(spki.data() + 12, 32);
    EXPECT_EQ(from_raw->export_public_key(0), spki);

    Bytes wrong_oid = spki;
    wrong_oid[8] = 0x70;  // 1.3.101.112, Ed25519
    EXPECT_THROW(from_raw->import_public_key(wrong_oid.data(), wrong_oid.size()), Exception);
    EXPECT_THROW(from_raw->import_public_key(spki.data(), 43), Exception);
    EXPECT_THROW(from_raw->import_public_key(nullptr, 32), InvalidArgumentException);
    EXPECT_EQ(from_raw->export_public_key(0), spki);
}

}  // namespace
}  // namespace provider_test
