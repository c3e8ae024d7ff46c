#include "x25519_encrypter.h"

#include <cstring>

#include "aead.h"
#include "failure.h"
#include "kdf.h"
#include "key_container.h"

namespace ztcrypto_detail {

namespace {

// DER SubjectPublicKeyInfo of an X25519 key: SEQUENCE { SEQUENCE { OID 1.3.101.110 },
// BIT STRING (no unused bits) } followed by the 32 key bytes.
constexpr std::uint8_t kSpkiPrefix[] = {0x30, 0x2A, 0x30, 0x05, 0x06, 0x03,
                                        0x2B, 0x65, 0x6E, 0x03, 0x21, 0x00};
constexpr std::size_t kSpkiSize = sizeof kSpkiPrefix + kX25519Size;
constexpr char kInfo[] = "wrap";
const std::uint8_t kZeroNonce[kGcmNonceSize] = {};

Secret wrapping_key(const Secret& shared, const std::uint8_t* ephemeral_public,
                    const PublicKey& recipient) {
    std::uint8_t salt[2 * kX25519Size];
    std::memcpy(salt, ephemeral_public, kX25519Size);
    std::memcpy(salt + kX25519Size, recipient.data(), kX25519Size);
    return hkdf_sha256(shared.data(), shared.size(), salt, sizeof salt,
                       reinterpret_cast<const std::uint8_t*>(kInfo), sizeof kInfo - 1, kGcmKeySize);
}

}  // namespace

bool X25519Encrypter::is_ready(int mode) const {
    if (mode != 0) {
        throw InvalidArgumentException("mode", "AsymmetricEncrypter::is_ready", "must be 0");
    }
    return public_key_.has_value();
}

void X25519Encrypter::initialize() {
    guarded("AsymmetricEncrypter::initialize", [&] {
        Secret key = x25519_generate(*core_->drbg);
        const PublicKey pub = x25519_public(key);
        private_key_ = std::move(key);
        public_key_ = pub;
    });
}

void X25519Encrypter::import_container(const std::uint8_t* data, std::size_t size,
                                       const std::wstring& password) {
    static const char* const method = "AsymmetricEncrypter::import_container";
    guarded(method, [&] {
        ContainerKeys keys = open_key_container(data, size, password, method);
        private_key_ = std::move(keys.asymmetric_private);
        public_key_ = keys.asymmetric_public;
    });
}

std::vector<std::uint8_t> X25519Encrypter::export_public_key(int mode) const {
    static const char* const method = "AsymmetricEncrypter::export_public_key";
    return guarded(method, [&] {
        if (mode != 0) {
            throw InvalidArgumentException("mode", method, "must be 0");
        }
        if (!public_key_) {
            fail(method, Exception::not_initialized, "no key");
        }
        // Sized once and filled: growing a vector here trips a false bounds warning of g++ 12.
        std::vector<std::uint8_t> spki(kSpkiSize);
        std::memcpy(spki.data(), kSpkiPrefix, sizeof kSpkiPrefix);
        std::memcpy(spki.data() + sizeof kSpkiPrefix, public_key_->data(), kX25519Size);
        return spki;
    });
}

void X25519Encrypter::import_public_key(const std::uint8_t* data, std::size_t size) {
    static const char* const method = "AsymmetricEncrypter::import_public_key";
    guarded(method, [&] {
        if (data == nullptr) {
            throw InvalidArgumentException("data", method, "is null");
        }
        const std::uint8_t* raw = nullptr;
        if (size == kSpkiSize && std::memcmp(data, kSpkiPrefix, sizeof kSpkiPrefix) == 0) {
            raw = data + sizeof kSpkiPrefix;
        } else if (size == kX25519Size) {
            raw = data;
        } else {
            fail(method, Exception::malformed_data, "not an X25519 public key");
        }
        PublicKey pub{};
        std::memcpy(pub.data(), raw, kX25519Size);
        private_key_.clear();
        public_key_ = pub;
    });
}

std::vector<std::uint8_t> X25519Encrypter::encrypt(const std::uint8_t* data,
                                                   std::size_t size) const {
    static const char* const method = "AsymmetricEncrypter::encrypt";
    return guarded(method, [&] {
        if (!public_key_) {
            fail(method, Exception::not_initialized, "no key");
        }
        if (data == nullptr && size != 0) {
            throw InvalidArgumentException("data", method, "is null");
        }
        const Secret ephemeral = x25519_generate(*core_->drbg);
        const PublicKey ephemeral_public = x25519_public(ephemeral);
        const Secret shared = x25519_shared(ephemeral, public_key_->data(), method);
        const Secret key = wrapping_key(shared, ephemeral_public.data(), *public_key_);
        static const std::uint8_t empty = 0;
        const std::vector<std::uint8_t> sealed =
            gcm_seal(key, kZeroNonce, nullptr, 0, data == nullptr ? &empty : data, size);
        std::vector<std::uint8_t> out(kX25519Size + sealed.size());
        std::memcpy(out.data(), ephemeral_public.data(), kX25519Size);
        std::memcpy(out.data() + kX25519Size, sealed.data(), sealed.size());
        return out;
    });
}

RawMemoryDefault X25519Encrypter::decrypt(const std::uint8_t* data, std::size_t size) const {
    static const char* const method = "AsymmetricEncrypter::decrypt";
    return guarded(method, [&] {
        if (private_key_.empty() || !public_key_) {
            fail(method, Exception::not_initialized, "no private key");
        }
        if (data == nullptr || size < kX25519Size + kGcmTagSize) {
            throw InvalidArgumentException("data", method, "too short");
        }
        const Secret shared = x25519_shared(private_key_, data, method);
        const Secret key = wrapping_key(shared, data, *public_key_);
        const Secret plain =
            gcm_open(key, kZeroNonce, nullptr, 0, data + kX25519Size, size - kX25519Size, method);
        return RawMemoryDefault::copy_of(plain.data(), plain.size());
    });
}

}  // namespace ztcrypto_detail
