#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include "test_support.h"

namespace provider_test {
namespace {

// Opens a symmetric key container with OpenSSL directly, following the documented
// format: SEQUENCE { INTEGER 1, OCTET STRING salt(16), OCTET STRING nonce(12),
// OCTET STRING ciphertext(32), OCTET STRING tag(16) }, key HKDF-SHA256(password, salt).
Bytes open_independently(const Bytes& sealed, const std::string& password) {
    EXPECT_EQ(sealed.size(), 2u + 3 + 18 + 14 + 34 + 18);
    const std::uint8_t* salt = sealed.data() + 2 + 3 + 2;
    const std::uint8_t* nonce = salt + 16 + 2;
    const std::uint8_t* ciphertext = nonce + 12 + 2;
    const std::uint8_t* tag = ciphertext + 32 + 2;

    std::uint8_t kek[32];
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* kctx = EVP_KDF_CTX_new(kdf);
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(password.data()),
                                          password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<std::uint8_t*>(salt), 16),
        OSSL_PARAM_construct_end(),
    };
    EXPECT_EQ(EVP_KDF_derive(kctx, kek, sizeof kek, params), 1);
    EVP_KDF_CTX_free(kctx);
    EVP_KDF_free(kdf);

    Bytes key(32);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    EXPECT_EQ(EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, kek, nonce), 1);
    EXPECT_EQ(EVP_DecryptUpdate(ctx, key.data(), &len, ciphertext, 32), 1);
    EXPECT_EQ(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, const_cast<std::uint8_t*>(tag)),
              1);
    EXPECT_EQ(EVP_DecryptFinal_ex(ctx, key.data() + len, &len), 1);
    EVP_CIPHER_CTX_free(ctx);
    return key;
}

Bytes evp_cbc(const Bytes& key, const Bytes& iv, const Bytes& in, bool encrypt) {
    Bytes out(in.size());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    EXPECT_EQ(
        EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data(), encrypt ? 1 : 0),
        1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(static_cast<std::size_t>(len), in.size());
    EVP_CIPHER_CTX_free(ctx);
    return out;
}

Bytes random_bytes(std::size_t n) {
    Bytes out(n);
    EXPECT_EQ(RAND_bytes(out.data(), static_cast<int>(n)), 1);
    return out;
}

class SymmetricTest : public ::testing::Test {
  protected:
    void SetUp() override {
        algorithm_ = factory_->create_symmetric(L"");
        algorithm_->generate_key();
        raw_key_ = open_independently(algorithm_->export_key(L"pw"), "pw");
        encrypter_ = algorithm_->create_encrypter();
        iv_ = random_bytes(16);
        encrypter_->set_iv(iv_);
    }

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
    std::shared_ptr<SymmetricAlgoritmBase> algorithm_;
    std::shared_ptr<SymmetricEncrypter> encrypter_;
    Bytes raw_key_;
    Bytes iv_;
};

TEST_F(SymmetricTest, SizesAreThoseOfAes256Cbc) {
    EXPECT_EQ(algorithm_->key_size(), 32u);
    EXPECT_EQ(encrypter_->block_size(0), 16u);
    EXPECT_EQ(encrypter_->iv_size(0), 16u);
    EXPECT_EQ(encrypter_->get_iv(), iv_);
}

TEST_F(SymmetricTest, EncryptionMatchesOpensslAes256Cbc) {
    for (std::size_t n : {16u, 32u, 160u, 4096u}) {
        const Bytes text = random_bytes(n);
        Bytes ours(n);
        encrypter_->encrypt(text.data(), n, ours.data());
        EXPECT_EQ(ours, evp_cbc(raw_key_, iv_, text, true)) << n << " bytes";
        Bytes back(n);
        encrypter_->decrypt(ours.data(), n, back.data());
        EXPECT_EQ(back, text);
    }
}

TEST_F(SymmetricTest, PartialLastBlockIsZeroFilled) {
    for (std::size_t n : {1u, 15u, 17u, 33u}) {
        const Bytes text = random_bytes(n);
        const std::size_t padded = (n + 15) / 16 * 16;
        Bytes ours(padded, 0xEE);
        encrypter_->encrypt(text.data(), n, ours.data());
        Bytes expected_plain = text;
        expected_plain.resize(padded, 0);
        EXPECT_EQ(ours, evp_cbc(raw_key_, iv_, expected_plain, true)) << n << " bytes";
        Bytes back(padded);
        encrypter_->decrypt(ours.data(), padded, back.data());
        EXPECT_EQ(back, expected_plain);
    }
}

TEST_F(SymmetricTest, EveryCallStartsFromTheIvLastSet) {
    const Bytes text = random_bytes(32);
    Bytes first(32);
    Bytes second(32);
    encrypter_->encrypt(text.data(), 32, first.data());
    encrypter_->encrypt(text.data(), 32, second.data());
    EXPECT_EQ(first, second);
    encrypter_->set_iv(random_bytes(16));
    encrypter_->encrypt(text.data(), 32, second.data());
    EXPECT_NE(first, second);
}

TEST_F(SymmetricTest, DecryptRefusesLengthsThatAreNotWholeBlocks) {
    const Bytes data(17);
    Bytes out(17);
    try {
        encrypter_->decrypt(data.data(), 17, out.data());
        FAIL() << "decrypted 17 bytes";
    } catch (const InvalidArgumentException& e) {
        EXPECT_EQ(e.argument(), "n");
    }
}

TEST_F(SymmetricTest, NullIvPointerNamesIvRawPtr) {
    try {
        encrypter_->set_Iv(nullptr, 16);
        FAIL() << "accepted a null IV";
    } catch (const InvalidArgumentException& e) {
        EXPECT_EQ(e.argument(), "iv_rawPtr");
        EXPECT_EQ(e.code(), Exception::invalid_argument);
    }
    const Bytes iv = random_bytes(16);
    encrypter_->set_Iv(iv.data(), iv.size());
    EXPECT_EQ(encrypter_->get_iv(), iv);
}

TEST_F(SymmetricTest, IvOfAWrongSizeIsRefusedAndTheOldOneStays) {
    EXPECT_THROW(encrypter_->set_iv(Bytes(15)), InvalidArgumentException);
    EXPECT_THROW(encrypter_->set_iv(Bytes()), InvalidArgumentException);
    EXPECT_EQ(encrypter_->get_iv(), iv_);
}

TEST_F(SymmetricTest, EncrypterWithoutIvRefusesToWork) {
    auto fresh = algorithm_->create_encrypter();
    EXPECT_TRUE(fresh->get_iv().empty());
    const Bytes text(16);
    Bytes out(16);
    EXPECT_THROW(fresh->encrypt(text.data(), 16, out.data()), Exception);
    EXPECT_THROW(fresh->decrypt(text.data(), 16, out.data()), Exception);
}

TEST_F(SymmetricTest, AlgorithmWithoutKeyMakesNoEncrypter) {
    auto empty = factory_->create_symmetric(L"");
    EXPECT_FALSE(empty->is_key_ready());
    EXPECT_THROW(empty->create_encrypter(), Exception);
    EXPECT_THROW(empty->export_key(L"pw"), Exception);
}

TEST_F(SymmetricTest, ExportedKeyImportsOnlyWithItsPassword) {
    const Bytes sealed = algorithm_->export_key(L"pw");
    auto other = factory_->create_symmetric(L"");
    EXPECT_THROW(other->import_key(L"PW", sealed.data(), sealed.size()), Exception);
    other->import_key(L"pw", sealed.data(), sealed.size());
    EXPECT_EQ(open_independently(other->export_key(L"x"), "x"), raw_key_);
}

TEST_F(SymmetricTest, EmptyInputWritesNothing) {
    Bytes out(16, 0xAB);
    encrypter_->encrypt(nullptr, 0, out.data());
    encrypter_->decrypt(nullptr, 0, out.data());
    EXPECT_EQ(out, Bytes(16, 0xAB));
}

}  // namespace
}  // namespace provider_test
