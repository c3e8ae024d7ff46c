#include <gtest/gtest.h>
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
    std::size_t kek_size = sizeof kek;
    EVP_PKEY_CTX* hkdf = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
    EXPECT_TRUE(
        EVP_PKEY_derive_init(hkdf) == 1 && EVP_PKEY_CTX_set_hkdf_md(hkdf, EVP_sha256()) == 1 &&
        EVP_PKEY_CTX_set1_hkdf_salt(hkdf, salt, 16) == 1 &&
        EVP_PKEY_CTX_set1_hkdf_key(hkdf, reinterpret_cast<const std::uint8_t*>(password.data()),
                                   static_cast<int>(password.size())) == 1 &&
        EVP_PKEY_derive(hkdf, kek, &kek_size) == 1);
    EVP_PKEY_CTX_free(hkdf);

    Bytes key(32);
    EVP_CIPHER_CTX* gcm = EVP_CIPHER_CTX_new();
    int len = 0;
    EXPECT_TRUE(
        EVP_DecryptInit_ex(gcm, EVP_aes_256_gcm(), nullptr, kek, nonce) == 1 &&
        EVP_DecryptUpdate(gcm, key.data(), &len, ciphertext, 32) == 1 &&
        EVP_CIPHER_CTX_ctrl(gcm, EVP_CTRL_GCM_SET_TAG, 16, const_cast<std::uint8_t*>(tag)) == 1 &&
        EVP_DecryptFinal_ex(gcm, key.data() + len, &len) == 1);
    EVP_CIPHER_CTX_free(gcm);
    return key;
}

Bytes evp_cbc_encrypt(const Bytes& key, const Bytes& iv, const Bytes& in) {
    Bytes out(in.size());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data()), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())), 1);
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
        algorithm_->generate_key();
        raw_key_ = open_independently(algorithm_->export_key(L"pw"), "pw");
        encrypter_ = algorithm_->create_encrypter();
        encrypter_->set_iv(iv_);
    }

    std::shared_ptr<CryptoFactoryDef> factory_ = make_factory();
    std::shared_ptr<SymmetricAlgoritmBase> algorithm_ = factory_->create_symmetric(L"");
    std::shared_ptr<SymmetricEncrypter> encrypter_;
    Bytes raw_key_;
    const Bytes iv_ = random_bytes(16);
};

// A last partial block is zero-filled; every call starts from the IV last set.
TEST_F(SymmetricTest, MatchesOpensslAes256CbcOverZeroFilledBlocks) {
    for (std::size_t n : {1u, 15u, 16u, 17u, 33u, 160u, 4096u}) {
        const Bytes iv = random_bytes(16);
        encrypter_->set_Iv(iv.data(), iv.size());
        const Bytes text = random_bytes(n);
        Bytes padded_text = text;
        padded_text.resize((n + 15) / 16 * 16, 0);
        Bytes ours(padded_text.size(), 0xEE);
        encrypter_->encrypt(text.data(), n, ours.data());
        EXPECT_EQ(ours, evp_cbc_encrypt(raw_key_, iv, padded_text)) << n << " bytes";
        Bytes back(ours.size());
        encrypter_->decrypt(ours.data(), ours.size(), back.data());
        EXPECT_EQ(back, padded_text) << n << " bytes";
    }
}

TEST_F(SymmetricTest, RefusesPartialBlocksBadIvsAndMissingIvOrKey) {
    Bytes out(17, 0xAB);
    expect_invalid_argument([&] { encrypter_->decrypt(out.data(), 17, out.data()); }, "n");
    encrypter_->encrypt(nullptr, 0, out.data());
    encrypter_->decrypt(nullptr, 0, out.data());
    EXPECT_EQ(out, Bytes(17, 0xAB));  // empty input writes nothing

    expect_invalid_argument([&] { encrypter_->set_Iv(nullptr, 16); }, "iv_rawPtr");
    EXPECT_THROW(encrypter_->set_iv(Bytes(15)), InvalidArgumentException);
    EXPECT_THROW(encrypter_->set_iv(Bytes()), InvalidArgumentException);
    EXPECT_EQ(encrypter_->get_iv(), iv_);

    // A silent all-zero IV would be worse than refusing.
    auto fresh = algorithm_->create_encrypter();
    EXPECT_THROW(fresh->encrypt(out.data(), 16, out.data()), Exception);
    EXPECT_THROW(fresh->decrypt(out.data(), 16, out.data()), Exception);
    auto empty = factory_->create_symmetric(L"");
    EXPECT_THROW(empty->create_encrypter(), Exception);
    EXPECT_THROW(empty->export_key(L"pw"), Exception);
}

TEST_F(SymmetricTest, ExportedKeyOpensOnlyUnchangedAndWithItsPassword) {
    const Bytes sealed = algorithm_->export_key(L"pw");
    auto other = factory_->create_symmetric(L"");
    EXPECT_THROW(other->import_key(L"PW", sealed.data(), sealed.size()), Exception);
    expect_every_changed_byte_refused(sealed, [&](const Bytes& changed) {
        other->import_key(L"pw", changed.data(), changed.size());
    });
    EXPECT_FALSE(other->is_key_ready());
    other->import_key(L"pw", sealed.data(), sealed.size());
    EXPECT_EQ(open_independently(other->export_key(L"x"), "x"), raw_key_);
}

}  // namespace
}  // namespace provider_test
