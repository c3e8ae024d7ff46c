#include "testing/cryx/sector_cipher.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstring>

namespace zt_cryx {

namespace {

// OpenSSL reports through its error queue; the stand-in only says that it failed.
std::error_code openssl_failure() {
    return std::make_error_code(std::errc::io_error);
}

constexpr char kKeyLabel[] = "zt-cryx aes-256-xts sector key";

}  // namespace

sector_key::sector_key() {
    // Best effort: a key that cannot be locked is still wiped.
    (void)mlock(m_bytes.data(), m_bytes.size());
}

sector_key::~sector_key() {
    OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    (void)munlock(m_bytes.data(), m_bytes.size());
}

bool derive_sector_key(std::span<const unsigned char, 32> first,
                       std::span<const unsigned char, 32> second, sector_key& out,
                       std::error_code& ec) {
    unsigned char input[64];
    std::memcpy(input, first.data(), first.size());
    std::memcpy(input + 32, second.data(), second.size());
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* ctx = kdf != nullptr ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    char digest[] = "SHA256";
    char label[sizeof kKeyLabel];
    std::memcpy(label, kKeyLabel, sizeof kKeyLabel);
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, input, sizeof input),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, label, sizeof kKeyLabel - 1),
        OSSL_PARAM_construct_end()};
    const bool ok =
        ctx != nullptr && EVP_KDF_derive(ctx, out.data(), sector_key::size, params) == 1;
    EVP_KDF_CTX_free(ctx);
    OPENSSL_cleanse(input, sizeof input);
    ec = ok ? std::error_code() : openssl_failure();
    return ok;
}

bool sector_cipher::init(const sector_key& key, std::error_code& ec) {
    ctx_ptr encrypt(EVP_CIPHER_CTX_new());
    ctx_ptr decrypt(EVP_CIPHER_CTX_new());
    if (!encrypt || !decrypt ||
        EVP_CipherInit_ex(encrypt.get(), EVP_aes_256_xts(), nullptr, key.data(), nullptr, 1) != 1 ||
        EVP_CipherInit_ex(decrypt.get(), EVP_aes_256_xts(), nullptr, key.data(), nullptr, 0) != 1) {
        ec = openssl_failure();
        return false;
    }
    m_encrypt = std::move(encrypt);
    m_decrypt = std::move(decrypt);
    ec.clear();
    return true;
}

bool sector_cipher::encrypt(std::uint64_t first, std::span<unsigned char> data,
                            std::error_code& ec) {
    return run(m_encrypt.get(), first, data, ec);
}

bool sector_cipher::decrypt(std::uint64_t first, std::span<unsigned char> data,
                            std::error_code& ec) {
    return run(m_decrypt.get(), first, data, ec);
}

bool sector_cipher::run(EVP_CIPHER_CTX* ctx, std::uint64_t first, std::span<unsigned char> data,
                        std::error_code& ec) {
    if (ctx == nullptr || data.size() % sector_size != 0) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    for (std::size_t offset = 0; offset < data.size(); offset += sector_size) {
        unsigned char tweak[16] = {};
        const std::uint64_t sector = first + offset / sector_size;
        for (int i = 0; i < 8; ++i) {
            tweak[i] = static_cast<unsigned char>(sector >> (8 * i));
        }
        int written = 0;
        unsigned char* block = data.data() + offset;
        if (EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, tweak, -1) != 1 ||
            EVP_CipherUpdate(ctx, block, &written, block, static_cast<int>(sector_size)) != 1 ||
            written != static_cast<int>(sector_size)) {
            ec = openssl_failure();
            return false;
        }
    }
    ec.clear();
    return true;
}

}  // namespace zt_cryx
