#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ztcrypto/export.h"

class AsymmetcricEncrypterBase;
class SymmetricEncrypter;

// A symmetric key of the default cipher (a 32-byte AES-256 key), which it can generate,
// import from a password-sealed symmetric key container, wrap to and unwrap with an
// asymmetric key, and turn into encrypters.
class ZTCRYPTO_API SymmetricAlgoritmBase {
  public:
    SymmetricAlgoritmBase() = default;
    SymmetricAlgoritmBase(const SymmetricAlgoritmBase&) = delete;
    SymmetricAlgoritmBase& operator=(const SymmetricAlgoritmBase&) = delete;
    virtual ~SymmetricAlgoritmBase();

    // True once a key was generated or imported.
    virtual bool is_key_ready() const = 0;
    // Opens a symmetric key container (from DiffieHellmanBase::get_symmetric_key_container
    // or export_key) with `password` and takes its key. Throws on a wrong password or a
    // malformed or tampered container; the previous key then stays.
    virtual void import_key(const std::wstring& password, const std::uint8_t* data,
                            std::size_t size) = 0;
    // Unwraps a key made by export_wrapped_key; needs `asymmetric` to hold the private key.
    // Throws on any mismatch (wrong key, changed byte, wrong size); the previous key stays.
    virtual void import_wrapped_key(const std::uint8_t* data, std::size_t size,
                                    const AsymmetcricEncrypterBase& asymmetric) = 0;
    // Wraps the key to the public key of `asymmetric`: ephemeral X25519 public key (32) ||
    // AES-256-GCM ciphertext (32) || tag (16). Throws when no key is ready.
    virtual std::vector<std::uint8_t> export_wrapped_key(
        const AsymmetcricEncrypterBase& asymmetric) const = 0;
    // Replaces the key with a fresh random one.
    virtual void generate_key() = 0;
    // A new encrypter keyed with a copy of the current key; throws when no key is ready.
    virtual std::shared_ptr<SymmetricEncrypter> create_encrypter() const = 0;

    // Extension: seals the key in a symmetric key container under `password` (the format
    // import_key reads). Throws when no key is ready.
    virtual std::vector<std::uint8_t> export_key(const std::wstring& password) const = 0;
    // Extension: the key length in bytes (32).
    virtual std::size_t key_size() const = 0;
    // Extension: the 32-byte HMAC-SHA256 of `n` bytes at `data` under a MAC key derived from
    // the current key (HKDF-SHA256, info "ztcrypto mac"), for encrypt-then-MAC of data
    // encrypted with this key's encrypters. Throws when no key is ready.
    virtual std::vector<std::uint8_t> authentication_tag(const std::uint8_t* data,
                                                         std::size_t n) const = 0;
};
