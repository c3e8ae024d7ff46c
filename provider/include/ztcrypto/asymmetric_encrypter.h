#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ztcrypto/export.h"
#include "ztcrypto/raw_memory.h"

// An X25519 key for public-key encryption (ECIES): either a key pair or a public key only.
// A public key suffices to encrypt (and to wrap symmetric keys); decrypting needs the pair.
class ZTCRYPTO_API AsymmetcricEncrypterBase {
  public:
    AsymmetcricEncrypterBase() = default;
    AsymmetcricEncrypterBase(const AsymmetcricEncrypterBase&) = delete;
    AsymmetcricEncrypterBase& operator=(const AsymmetcricEncrypterBase&) = delete;
    virtual ~AsymmetcricEncrypterBase();

    // True when a key (pair or public key) is held. `mode` is reserved and must be 0.
    virtual bool is_ready(int mode) const = 0;
    // Replaces whatever is held with a fresh key pair.
    virtual void initialize() = 0;
    // Replaces the key with the asymmetric key pair of a key container opened with
    // `password`. Throws on a wrong password, a malformed or tampered container; the
    // previous key then stays.
    virtual void import_container(const std::uint8_t* data, std::size_t size,
                                  const std::wstring& password) = 0;
    // The public key as DER SubjectPublicKeyInfo (44 bytes). `mode` must be 0. Throws
    // when no key is held.
    virtual std::vector<std::uint8_t> export_public_key(int mode) const = 0;
    // Replaces the key with a public key only: 44-byte SubjectPublicKeyInfo DER (as
    // export_public_key gives) or the raw 32-byte X25519 key. Throws on anything else.
    virtual void import_public_key(const std::uint8_t* data, std::size_t size) = 0;

    // Extension: true when the private half is held (decrypt and unwrapping work).
    virtual bool has_private_key() const = 0;
    // Extension: encrypts `size` bytes to the public key: ephemeral public key (32) ||
    // AES-256-GCM ciphertext (size) || tag (16). Throws when no key is held.
    virtual std::vector<std::uint8_t> encrypt(const std::uint8_t* data, std::size_t size) const = 0;
    // Extension: opens what encrypt() made into an owned (wiped on release) block; throws
    // without the private key, or when the data was not made for this key or was changed.
    virtual RawMemoryDefault decrypt(const std::uint8_t* data, std::size_t size) const = 0;
};
