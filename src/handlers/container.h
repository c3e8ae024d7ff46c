#pragma once

#include <system_error>
#include <utility>
#include <vector>

#include "crypto/asymmetric_encryptor.h"

class crypto_factory;

namespace Container {

// The secret part of a key store: the user's disk key and the token stored as the user's
// parameter. Frame items: key, parameter. Both vectors are wiped when the record goes.
class Keystore {
  public:
    using bytes = std::vector<unsigned char>;

    Keystore() = default;
    Keystore(bytes disk_key, bytes token) : key(std::move(disk_key)), parameter(std::move(token)) {}
    Keystore(Keystore&&) noexcept = default;
    Keystore& operator=(Keystore&&) noexcept;
    Keystore(const Keystore&) = delete;
    Keystore& operator=(const Keystore&) = delete;
    ~Keystore();

    bytes serialize() const;
    // Replaces both fields from a frame; an empty input changes nothing.
    void deserialize(const bytes& data);
    // True only when both the key and the parameter are present.
    explicit operator bool() const noexcept { return !key.empty() && !parameter.empty(); }

    bytes key;
    bytes parameter;
};

// A key store as a client prepares it for registration, encrypted to the service's
// asymmetric key: the key store is secret (hybrid-encrypted under a one-time key that
// travels wrapped), the rest is clear. Frame items: encrypted key store, service
// container, service material, ephemeral iv (16 bytes), ephemeral wrapped key.
class Datastore {
  public:
    using bytes = std::vector<unsigned char>;

    struct Ephemeral {
        bytes iv;
        bytes wrapped_key;
    };
    struct Service {
        bytes container;  // the user's key container, stored as the user's container
        bytes material;   // replaces the user's symmetric material at disk creation
    };

    // The client's side: a fresh 16-byte iv, the one-time key wrapped to the service key
    // held by cipher, the key store encrypted under it, all framed. Empty with ec set when
    // the key cannot be wrapped or the encryption fails.
    bytes pack(asymmetric_encryptor& cipher, std::error_code& ec);
    // The frame of encrypted_keystore and the clear members.
    bytes serialize(bytes&& encrypted_keystore) const;
    // Takes the clear members from items 2 to 5 and returns item 1 (the encrypted key
    // store); an empty input returns nothing and changes nothing.
    bytes deserialize(const bytes& data);

    // The daemon's side: decodes data and decrypts the key store with cipher, which must
    // hold the service's private key. False with ec set when the wrapped key does not open
    // or the key store does not decrypt (the key store is then empty).
    bool unpack(asymmetric_encryptor& cipher, const bytes& data, std::error_code& ec);
    // Reads only the clear part: false for an empty input or a frame whose item count is
    // not exactly 5; otherwise takes the service container and material.
    bool unpack(const bytes& data);

    Ephemeral ephemeral;
    Service service;
    Keystore keystore;
};

// Opens a stored key store with a copy of the service cipher: (disk key, service material),
// or two empty vectors with ec set when the cipher cannot be initialised with factory or
// the key store does not open.
std::pair<std::vector<unsigned char>, std::vector<unsigned char>> extract_key(
    const crypto_factory& factory, asymmetric_encryptor cipher,
    const std::vector<unsigned char>& data, std::error_code& ec);

}  // namespace Container
