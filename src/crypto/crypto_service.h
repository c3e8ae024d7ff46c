#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/asymmetric_encrypter.h"
#include "ztcrypto/crypto_factory_def.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/raw_memory.h"
#include "ztcrypto/symmetric_encrypter.h"

// The cryptographic state of one client session: the key agreement over the service
// container, the asymmetric key from the same container, the key material answered to the
// client and the symmetric encryptor of the secure context.
//
// Operations with an error code never throw: they return false, 0 or an empty vector and
// set ec; they clear ec on success. A failed operation leaves the cipher as it was, except
// initialize(), whose failure drops everything.
class crypto_service {
  public:
    crypto_service() = default;
    crypto_service(crypto_service&&) noexcept = default;
    crypto_service& operator=(crypto_service&&) noexcept = default;
    crypto_service(const crypto_service&) = delete;
    crypto_service& operator=(const crypto_service&) = delete;
    ~crypto_service() = default;

    // Shares f's provider factory and creates fresh key-agreement and asymmetric objects;
    // drops the encryptor. f not initialized: "Factory not initialized"; a provider failure
    // drops all objects and reports ENOMEM.
    bool initialize(const crypto_factory& f, std::error_code& ec);
    // As above, with a provider factory of its own seeded from the bytes.
    bool initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec);
    bool initialize(const std::uint8_t* data, std::size_t size, std::error_code& ec);

    // True when the key-agreement object holds a container.
    bool initialized() const noexcept;
    // True when an encryptor exists.
    bool ready() const noexcept { return m_encryptor != nullptr; }

    // Opens the key container with password for the key agreement and the asymmetric key;
    // any failure is "Invalid password" and keeps the previous keys.
    bool import_container(const std::wstring& password, const std::vector<std::uint8_t>& container,
                          std::error_code& ec);
    // The held container sealed under password; "Export container error" on failure.
    std::vector<std::uint8_t> export_container(const std::wstring& password,
                                               std::error_code& ec) const;

    // Runs the key agreement with the client's key material; the answer is kept for
    // export_key_material(). "Import key material error" keeps the previous answer.
    bool import_key_material(const std::vector<std::uint8_t>& material, std::error_code& ec);
    bool import_key_material(const std::uint8_t* data, std::size_t size, std::error_code& ec);
    // A copy of the last answer; empty before any successful import_key_material.
    std::vector<std::uint8_t> export_key_material() const;

    // Builds a new encryptor from the agreed session key sealed under password; without a
    // completed key agreement "Export key material error". On failure the previous
    // encryptor (or none) stays.
    bool create_encryptor(const std::wstring& password, std::error_code& ec);

    // Sets the encryptor's initialization vector.
    bool set_iv(const std::vector<std::uint8_t>& iv, std::error_code& ec);
    // Throws std::runtime_error "Encryptor not created" without an encryptor, and
    // std::runtime_error when the vector is refused.
    void set_iv(const std::vector<std::uint8_t>& iv);
    // Throws std::runtime_error "Cryptographer not created" without an encryptor, and
    // std::runtime_error (naming "iv_rawPtr") for a null pointer.
    void set_iv(const std::uint8_t* iv, std::size_t size);
    // The current initialization vector; empty without an encryptor.
    std::vector<std::uint8_t> get_iv() const;
    // The encryptor's IV length; 0 without an encryptor.
    std::size_t get_iv_size() const;

    // n rounded up to whole blocks of the encryptor.
    std::size_t get_size_for_encrypted_data(std::size_t n, std::error_code& ec) const;
    // The bytes of padding that encrypting n bytes adds.
    std::size_t get_padding(std::size_t n, std::error_code& ec) const;

    // Encrypts to whole blocks (the last one zero-filled); empty input gives empty output.
    std::vector<std::uint8_t> encrypt(const std::vector<std::uint8_t>& plain,
                                      std::error_code& ec) const;
    // Decrypts to as many bytes as the input; block padding stays in place.
    std::vector<std::uint8_t> decrypt(const std::vector<std::uint8_t>& cipher,
                                      std::error_code& ec) const;

    // The private parameter mixed into the session key.
    bool set_additional_private_parameter(const std::vector<std::uint8_t>& parameter,
                                          std::error_code& ec);
    std::vector<std::uint8_t> get_additional_private_parameter() const;
    // The agreed session key sealed under password; empty on failure and before a key
    // agreement.
    std::vector<std::uint8_t> get_symmetric_key_container(const std::wstring& password) const;
    // The asymmetric public key as DER SubjectPublicKeyInfo.
    std::vector<std::uint8_t> get_public_key(std::error_code& ec) const;

    // Fills n bytes from a fresh default random generator of the provider.
    bool random(std::uint8_t* buffer, std::size_t n, std::error_code& ec) const;
    std::vector<std::uint8_t> random(std::size_t n, std::error_code& ec) const;
    // The provider's default digest of the data.
    std::vector<std::uint8_t> hash(const std::vector<std::uint8_t>& data,
                                   std::error_code& ec) const;
    std::vector<std::uint8_t> hash(const std::uint8_t* data, std::size_t size,
                                   std::error_code& ec) const;

    // Drops the encryptor and clears the key agreement and the asymmetric key;
    // "Initialize error" when the provider fails. The key material stays.
    bool reset(std::error_code& ec);
    void reset();
    // Drops the encryptor and replaces the key agreement with a fresh one; never fails.
    void force_reset() noexcept;

  private:
    bool set_up(std::shared_ptr<CryptoFactoryDef> provider, std::error_code& ec);

    std::shared_ptr<CryptoFactoryDef> m_factory;
    std::shared_ptr<DiffieHellmanBase> m_key_agreement;
    std::shared_ptr<SymmetricEncrypter> m_encryptor;
    std::shared_ptr<AsymmetcricEncrypterBase> m_asymmetric;
    std::pair<std::shared_ptr<RawMemoryDefault>, bool> m_key_material;
};
