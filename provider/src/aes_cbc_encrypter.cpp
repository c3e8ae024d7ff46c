#include "aes_cbc_encrypter.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstring>

#include "failure.h"

namespace ztcrypto_detail {

namespace {

// The cipher, fetched from the default provider once for the process rather than looked up
// again by name in every call.
const EVP_CIPHER* aes_256_cbc(const char* method) {
    static const CipherPtr cipher(EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr));
    if (!cipher) {
        throw_openssl(method, "cannot set up AES-256-CBC");
    }
    return cipher.get();
}

void check_mode(int mode, const char* method) {
    if (mode != 0) {
        throw InvalidArgumentException("mode", method, "must be 0");
    }
}

}  // namespace

AesCbcEncrypter::AesCbcEncrypter(const Secret& key) : key_(key) {
    static const char* const method = "SymmetricEncrypter::SymmetricEncrypter";
    if (key_.size() != kKeySize) {
        fail(method, Exception::not_initialized, "no 32-byte key");
    }
    aes_256_cbc(method);
}

void AesCbcEncrypter::set_iv(const std::vector<std::uint8_t>& iv) {
    static const char* const method = "SymmetricEncrypter::set_iv";
    guarded(method, [&] {
        if (iv.size() != kBlock) {
            throw InvalidArgumentException("iv", method, "must be 16 bytes");
        }
        iv_ = iv;
    });
}

std::size_t AesCbcEncrypter::iv_size(int mode) const {
    check_mode(mode, "SymmetricEncrypter::iv_size");
    return kBlock;
}

std::size_t AesCbcEncrypter::block_size(int mode) const {
    check_mode(mode, "SymmetricEncrypter::block_size");
    return kBlock;
}

void AesCbcEncrypter::encrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    static const char* const method = "SymmetricEncrypter::encrypt";
    guarded(method, [&] {
        if (n == 0) {
            return;
        }
        const CipherCtxPtr ctx = start(1, in, out, method);
        const std::size_t whole = n - n % kBlock;
        update(ctx.get(), in, whole, out, method);
        if (whole != n) {
            // The last partial block is zero-filled and continues the chain.
            std::uint8_t last[kBlock] = {};
            std::memcpy(last, in + whole, n - whole);
            update(ctx.get(), last, kBlock, out + whole, method);
            OPENSSL_cleanse(last, sizeof last);
        }
    });
}

void AesCbcEncrypter::decrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    static const char* const method = "SymmetricEncrypter::decrypt";
    guarded(method, [&] {
        if (n % kBlock != 0) {
            throw InvalidArgumentException("n", method, "must be a multiple of 16");
        }
        if (n != 0) {
            const CipherCtxPtr ctx = start(0, in, out, method);
            update(ctx.get(), in, n, out, method);
        }
    });
}

CipherCtxPtr AesCbcEncrypter::start(int encrypt, const std::uint8_t* in, std::uint8_t* out,
                                    const char* method) const {
    if (iv_.size() != kBlock) {
        fail(method, Exception::not_initialized, "no initialization vector set");
    }
    if (in == nullptr) {
        throw InvalidArgumentException("in", method, "is null");
    }
    if (out == nullptr) {
        throw InvalidArgumentException("out", method, "is null");
    }
    // Freeing the context wipes its key schedule.
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex2(ctx.get(), aes_256_cbc(method), key_.data(), iv_.data(), encrypt,
                           nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        throw_openssl(method, "cannot set up AES-256-CBC");
    }
    return ctx;
}

void AesCbcEncrypter::update(EVP_CIPHER_CTX* ctx, const std::uint8_t* in, std::size_t n,
                             std::uint8_t* out, const char* method) {
    // EVP takes int lengths: long inputs go through in pieces, which CBC chains seamlessly.
    constexpr std::size_t kPiece = (INT_MAX / kBlock) * kBlock;
    while (n > 0) {
        const std::size_t step = n < kPiece ? n : kPiece;
        int len = 0;
        if (EVP_CipherUpdate(ctx, out, &len, in, static_cast<int>(step)) != 1 ||
            static_cast<std::size_t>(len) != step) {
            throw_openssl(method, "the cipher failed");
        }
        in += step;
        out += step;
        n -= step;
    }
}

}  // namespace ztcrypto_detail
