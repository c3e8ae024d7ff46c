#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ztcrypto/export.h"
#include "ztcrypto/raw_memory.h"

// The key-agreement object: holds a key container (an account's or the service's two
// X25519 key pairs), runs the X25519 key agreement with a peer (server or client side),
// and hands out the resulting symmetric key sealed in a symmetric key container.
class ZTCRYPTO_API DiffieHellmanBase {
  public:
    DiffieHellmanBase() = default;
    DiffieHellmanBase(const DiffieHellmanBase&) = delete;
    DiffieHellmanBase& operator=(const DiffieHellmanBase&) = delete;
    virtual ~DiffieHellmanBase();

    // True once a key container was imported (or created).
    virtual bool is_initialized() const = 0;
    // Opens a key container with `password` and holds its keys, replacing the container
    // and any agreement state. Throws on a wrong password or a malformed, tampered or
    // truncated container; the object is then left as before.
    virtual void import_container(const std::uint8_t* data, std::size_t size,
                                  const std::wstring& password) = 0;
    // The held container sealed anew under `password` (fresh salt and nonces, the same keys,
    // creation time and iteration count). Throws when no container is held.
    virtual std::vector<std::uint8_t> export_container(const std::wstring& password) const = 0;
    // Server side: `block` is the peer's 32-byte X25519 public key. Makes a fresh ephemeral
    // key and returns (ephemeral public || static key-agreement public, 64 bytes, true).
    // Needs a container; throws on a wrong size or a degenerate peer key.
    virtual std::pair<std::shared_ptr<RawMemoryDefault>, bool> import_key_material(
        const RawMemoryDefault& block) = 0;
    // A copy of the private parameter (empty when none was set).
    virtual std::vector<std::uint8_t> get_additional_private_parameter() const = 0;
    // Sets the private parameter mixed into the session key (`size` may be 0 to clear it).
    // `mode` must be 0.
    virtual void set_additional_private_parameter(const std::uint8_t* data, std::size_t size,
                                                  int mode) = 0;
    // Clears everything: container, ephemeral key, peer secret, private parameter.
    virtual void initialize() = 0;
    // The session key of the completed key agreement, sealed under `password` in a symmetric
    // key container. Throws without a completed agreement: a session key never falls back
    // to anything a peer did not take part in.
    virtual std::vector<std::uint8_t> get_symmetric_key_container(
        const std::wstring& password) const = 0;

    // Extension: replaces everything with a new container of two fresh key pairs, protected
    // by `password` with PBKDF2 `iterations` (1000 to 10000000) and dated `created` (UTC
    // seconds, years 1 to 9999), and returns its DER encoding.
    virtual std::vector<std::uint8_t> create_container(const std::wstring& password,
                                                       std::time_t created,
                                                       std::uint32_t iterations) = 0;
    // Extension (client side): makes a fresh ephemeral key (dropping any earlier agreement)
    // and returns its 32-byte public key, to be sent to the server.
    virtual std::vector<std::uint8_t> create_client_key_material() = 0;
    // Extension (client side): takes the server's 64-byte answer (server ephemeral public ||
    // server static public) and completes the agreement. Throws without a preceding
    // create_client_key_material, on a wrong size or a degenerate key.
    virtual void import_server_key_material(const RawMemoryDefault& answer) = 0;
    // Extension: the held container's key-agreement public key (32 bytes); throws without one.
    virtual std::vector<std::uint8_t> get_public_key() const = 0;
    // Extension: the held container's creation time (UTC seconds); throws without one.
    virtual std::time_t get_creation_time() const = 0;
    // Extension: a 32-byte secret bound to the held container, HKDF-SHA256 of its static
    // key-agreement private key (no salt) with `label` as info, in owned (wiped) memory.
    // Clients derive their session token ("ztctl token") and disk key wrap key with it.
    // Throws without a container, and InvalidArgumentException "label" for an empty label
    // or the label of the container's storage key, which this must never hand out.
    virtual RawMemoryDefault derive_secret(const std::string& label) const = 0;
    // Extension: seals `size` bytes at `data` with AES-256-GCM under the secret that
    // derive_secret(label) gives: version byte (1) || 12-byte fresh nonce || ciphertext ||
    // 16-byte tag, the version byte and the label authenticated. Only the holder of the same
    // container opens it. Throws as derive_secret does.
    virtual std::vector<std::uint8_t> seal_secret(const std::string& label,
                                                  const std::uint8_t* data,
                                                  std::size_t size) const = 0;
    // Extension: opens what seal_secret made, in owned (wiped) memory. Throws Exception
    // authentication_failed for another container or label, a changed byte or a wrong
    // size, InvalidArgumentException "sealed" for an unknown version byte.
    virtual RawMemoryDefault open_secret(const std::string& label, const std::uint8_t* sealed,
                                         std::size_t size) const = 0;
    // Extension: the held container's storage key (the same for the same container on every
    // run; it seals the daemon's database), sealed under `password` in a symmetric key
    // container. Throws without a container. Only the database cipher asks for it.
    virtual std::vector<std::uint8_t> get_storage_key_container(
        const std::wstring& password) const = 0;
};
