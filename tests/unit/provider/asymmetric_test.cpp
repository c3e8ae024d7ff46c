#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
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

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
};

TEST_F(AsymmetricTest, NewObjectIsReadyOnlyAfterInitialize) {
    auto asymmetric = factory_->create_asymmetric(L"");
    EXPECT_FALSE(asymmetric->is_ready(0));
    EXPECT_THROW(asymmetric->export_public_key(0), Exception);
    asymmetric->initialize();
    EXPECT_TRUE(asymmetric->is_ready(0));
    EXPECT_TRUE(asymmetric->has_private_key());
}

TEST_F(AsymmetricTest, PublicKeyIsSpkiDer) {
    const Bytes spki = make_pair()->export_public_key(0);
    ASSERT_EQ(spki.size(), 44u);
    const Bytes prefix = {0x30, 0x2A, 0x30, 0x05, 0x06, 0x03, 0x2B, 0x65, 0x6E, 0x03, 0x21, 0x00};
    EXPECT_EQ(Bytes(spki.begin(), spki.begin() + 12), prefix);
}

TEST_F(AsymmetricTest, OpensslReadsTheExportedPublicKey) {
    if (std::system("command -v openssl >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the openssl command is not installed";
    }
    const Bytes spki = make_pair()->export_public_key(0);
    char dir_template[] = "/tmp/zt_provider_spki_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    {
        std::ofstream out(dir + "/key.der", std::ios::binary);
        out.write(reinterpret_cast<const char*>(spki.data()),
                  static_cast<std::streamsize>(spki.size()));
    }
    const std::string command = "openssl pkey -pubin -inform DER -in " + dir +
                                "/key.der -outform DER -out " + dir + "/again.der 2>" + dir +
                                "/err.txt && openssl pkey -pubin -inform DER -in " + dir +
                                "/key.der -noout -text > " + dir + "/text.txt";
    const int status = std::system(command.c_str());
    const Bytes again = read_file(dir + "/again.der");
    const Bytes text = read_file(dir + "/text.txt");
    std::system(("rm -rf " + dir).c_str());
    ASSERT_EQ(status, 0) << "openssl refused the key";
    EXPECT_EQ(again, spki);
    EXPECT_NE(std::string(text.begin(), text.end()).find("X25519"), std::string::npos);
}

TEST_F(AsymmetricTest, WrappedKeyOpensOnlyWithTheMatchingPrivateKey) {
    auto recipient = make_pair();
    auto stranger = make_pair();
    auto key = factory_->create_symmetric(L"");
    key->generate_key();

    // The sender knows only the recipient's public key.
    auto sender = factory_->create_asymmetric(L"");
    const Bytes spki = recipient->export_public_key(0);
    sender->import_public_key(spki.data(), spki.size());
    EXPECT_FALSE(sender->has_private_key());
    const Bytes wrapped = key->export_wrapped_key(*sender);
    EXPECT_EQ(wrapped.size(), 80u);

    auto opened = factory_->create_symmetric(L"");
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size(), *stranger), Exception);
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size(), *sender), Exception);
    EXPECT_FALSE(opened->is_key_ready());
    opened->import_wrapped_key(wrapped.data(), wrapped.size(), *recipient);
    ASSERT_TRUE(opened->is_key_ready());

    // Both keys encrypt alike, so they are the same key.
    const Bytes iv(16, 3);
    const Bytes text(48, 0x42);
    Bytes a(48);
    Bytes b(48);
    auto e1 = key->create_encrypter();
    auto e2 = opened->create_encrypter();
    e1->set_iv(iv);
    e2->set_iv(iv);
    e1->encrypt(text.data(), text.size(), a.data());
    e2->encrypt(text.data(), text.size(), b.data());
    EXPECT_EQ(a, b);
}

TEST_F(AsymmetricTest, ChangedWrappedKeyIsRefused) {
    auto recipient = make_pair();
    auto key = factory_->create_symmetric(L"");
    key->generate_key();
    const Bytes wrapped = key->export_wrapped_key(*recipient);
    auto opened = factory_->create_symmetric(L"");
    for (std::size_t i = 0; i < wrapped.size(); ++i) {
        Bytes changed = wrapped;
        changed[i] ^= 0x80;
        EXPECT_THROW(opened->import_wrapped_key(changed.data(), changed.size(), *recipient),
                     Exception)
            << "accepted a change at byte " << i;
    }
    EXPECT_THROW(opened->import_wrapped_key(wrapped.data(), wrapped.size() - 1, *recipient),
                 InvalidArgumentException);
    EXPECT_FALSE(opened->is_key_ready());
}

TEST_F(AsymmetricTest, WrappingWithoutAKeyThrows) {
    auto recipient = make_pair();
    auto key = factory_->create_symmetric(L"");
    EXPECT_THROW(key->export_wrapped_key(*recipient), Exception);
    auto empty = factory_->create_asymmetric(L"");
    key->generate_key();
    EXPECT_THROW(key->export_wrapped_key(*empty), Exception);
}

TEST_F(AsymmetricTest, ImportPublicKeyAcceptsSpkiAndRawKeysOnly) {
    auto pair = make_pair();
    const Bytes spki = pair->export_public_key(0);
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

TEST_F(AsymmetricTest, EncryptedDataOpensOnlyUnchanged) {
    auto recipient = make_pair();
    const Bytes text = {'s', 'e', 'c', 'r', 'e', 't'};
    const Bytes sealed = recipient->encrypt(text.data(), text.size());
    EXPECT_EQ(sealed.size(), 32 + text.size() + 16);
    EXPECT_EQ(recipient->decrypt(sealed.data(), sealed.size()).to_vector(), text);
    Bytes changed = sealed;
    changed[40] ^= 1;
    EXPECT_THROW(recipient->decrypt(changed.data(), changed.size()), Exception);
    // Two encryptions of one text differ (fresh ephemeral key each time).
    EXPECT_NE(recipient->encrypt(text.data(), text.size()), sealed);
}

TEST_F(AsymmetricTest, ModeOtherThanZeroIsRefused) {
    auto pair = make_pair();
    EXPECT_THROW(pair->export_public_key(1), InvalidArgumentException);
    EXPECT_THROW(pair->is_ready(1), InvalidArgumentException);
}

}  // namespace
}  // namespace provider_test
