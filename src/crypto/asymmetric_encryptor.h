#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/asymmetric_encrypter.h"
#include "ztcrypto/symmetric_algorithm.h"
#include "ztcrypto/symmetric_encrypter.h"

// Hybrid encryption for the holder of an asymmetric key: a fresh symmetric data key
// encrypts a length-prefixed record of the data, and travels wrapped with the asymmetric
// key. Copies share the provider objects.
class asymmetric_encryptor {
  public:
    // An encryptor that makes its own key pair in initialize().
    asymmetric_encryptor() = default;
    // An encryptor over an existing asymmetric key, which it shares.
    explicit asymmetric_encryptor(std::shared_ptr<AsymmetcricEncrypterBase> asymmetric);

    // Creates the key pair (unless one was given) and a fresh data key; drops any encrypter.
    // f not initialized: "Factory not initialized"; a provider failure: "Initialize error",
    // and the encryptor stays as it was.
    bool initialize(const crypto_factory& f, std::error_code& ec);
    // True when a key is held and the data key is ready.
    bool is_initialized() const noexcept;

    // The asymmetric public key (DER SubjectPublicKeyInfo).
    std::vector<std::uint8_t> get_public_key(std::error_code& ec) const;
    // Replaces the (shared) asymmetric key with a public key only.
    bool import_public_key(const std::vector<std::uint8_t>& key, std::error_code& ec);

    // Prepares encryption under iv and returns the data key wrapped to the asymmetric key;
    // empty with "Encryptor not created" on failure.
    std::vector<std::uint8_t> prepare_encrypt(const std::vector<std::uint8_t>& iv,
                                              std::error_code& ec);
    // Takes the data key from wrapped_key (needs the private key) and prepares decryption
    // under iv; "Encryptor not created" on failure.
    bool prepare_decrypt(const std::vector<std::uint8_t>& iv,
                         const std::vector<std::uint8_t>& wrapped_key, std::error_code& ec);

    // n rounded up to whole blocks of the prepared encrypter; 0 when there is none.
    std::size_t get_encrypted_data_size(std::size_t n) const;

    // Encrypts wrap(data) to whole blocks and appends a 32-byte tag over IV and ciphertext
    // (encrypt-then-MAC); "Encrypt failure" when the provider fails.
    std::vector<std::uint8_t> encrypt(const std::vector<std::uint8_t>& data,
                                      std::error_code& ec) const;
    // Checks the tag, then decrypts and unwraps. A wrong size, a changed byte anywhere, a
    // record whose length prefix does not fit, or any provider failure is "Decrypt failure".
    std::vector<std::uint8_t> decrypt(const std::vector<std::uint8_t>& cipher,
                                      std::error_code& ec) const;

    // The record: data length as 4 bytes little-endian, then the data. Empty when the data
    // is too long for the prefix.
    static std::vector<std::uint8_t> wrap(const std::vector<std::uint8_t>& data);
    // The data of a record; empty when the record is shorter than its prefix says. Bytes
    // behind the data (block padding) are ignored.
    static std::vector<std::uint8_t> unwrap(const std::vector<std::uint8_t>& record);

  private:
    // True when initialized and an encrypter is prepared; otherwise sets ec to say which.
    bool cipher_prepared(std::error_code& ec) const;
    // The tag of size bytes of ciphertext under the prepared IV; throws as the provider does.
    std::vector<std::uint8_t> authentication_tag(const std::uint8_t* cipher,
                                                 std::size_t size) const;

    std::shared_ptr<AsymmetcricEncrypterBase> m_asymmetric;
    std::shared_ptr<SymmetricAlgoritmBase> m_algorithm;
    std::shared_ptr<SymmetricEncrypter> m_encrypter;
};
