#include "aead.h"

#include <openssl/err.h>

#include <climits>

#include "failure.h"
#include "openssl_handles.h"

namespace ztcrypto_detail {

namespace {

CipherCtxPtr start(const Secret& key, const std::uint8_t* nonce, const std::uint8_t* aad,
                   std::size_t aad_size, int encrypt, const char* method) {
    if (key.size() != kGcmKeySize || aad_size > INT_MAX) {
        fail(method, Exception::invalid_argument, "bad key or additional data size");
    }
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) {
        throw_openssl(method, "cannot create the cipher");
    }
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmNonceSize),
                            nullptr) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce, encrypt) != 1) {
        throw_openssl(method, "cannot set up AES-256-GCM");
    }
    int len = 0;
    if (aad_size != 0 &&
        EVP_CipherUpdate(ctx.get(), nullptr, &len, aad, static_cast<int>(aad_size)) != 1) {
        throw_openssl(method, "cannot authenticate the additional data");
    }
    return ctx;
}

}  // namespace

std::vector<std::uint8_t> gcm_seal(const Secret& key, const std::uint8_t* nonce,
                                   const std::uint8_t* aad, std::size_t aad_size,
                                   const std::uint8_t* plain, std::size_t plain_size) {
    static const char* const method = "gcm_seal";
    if (plain_size > INT_MAX - kGcmTagSize) {
        fail(method, Exception::invalid_argument, "data too long");
    }
    CipherCtxPtr ctx = start(key, nonce, aad, aad_size, 1, method);
    std::vector<std::uint8_t> out(plain_size + kGcmTagSize);
    int len = 0;
    if (plain_size != 0 &&
        EVP_CipherUpdate(ctx.get(), out.data(), &len, plain, static_cast<int>(plain_size)) != 1) {
        throw_openssl(method, "encryption failed");
    }
    int final_len = 0;
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + len, &final_len) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kGcmTagSize),
                            out.data() + plain_size) != 1) {
        throw_openssl(method, "encryption failed");
    }
    return out;
}

Secret gcm_open(const Secret& key, const std::uint8_t* nonce, const std::uint8_t* aad,
                std::size_t aad_size, const std::uint8_t* sealed, std::size_t sealed_size,
                const char* method) {
    if (sealed_size < kGcmTagSize || sealed_size > INT_MAX) {
        fail(method, Exception::malformed_data, "sealed data has a wrong size");
    }
    const std::size_t plain_size = sealed_size - kGcmTagSize;
    CipherCtxPtr ctx = start(key, nonce, aad, aad_size, 0, method);
    Secret out(plain_size);
    int len = 0;
    if (plain_size != 0 &&
        EVP_CipherUpdate(ctx.get(), out.data(), &len, sealed, static_cast<int>(plain_size)) != 1) {
        throw_openssl(method, "decryption failed");
    }
    // OpenSSL only reads the expected tag, despite the non-const parameter.
    auto* tag = const_cast<std::uint8_t*>(sealed + plain_size);
    int final_len = 0;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagSize), tag) !=
            1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + len, &final_len) != 1) {
        out.clear();
        fail(method, Exception::authentication_failed,
             "authentication failed (wrong key or changed data)");
    }
    return out;
}

}  // namespace ztcrypto_detail
