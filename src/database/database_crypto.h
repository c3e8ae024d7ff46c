#pragma once

#include <cstddef>
#include <memory>
#include <stack>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/asymmetric_encryptor.h"
#include "crypto/crypto_factory.h"

class DiffieHellmanBase;
class AsymmetcricEncrypterBase;
class SymmetricEncrypter;

// The service's own key objects, unlocked with the credentials of "service.bin": the
// cipher of the database file, the service's asymmetric key (which unpacks clients' key
// stores) and its public key. Provider exceptions never leave this class; each failure is
// reported as the "crypto" code named on the operation.
class DatabaseCryptoManager {
  public:
    using bytes = std::vector<unsigned char>;

    // Keeps a copy of factory and creates the key container and asymmetric key objects.
    // 532 when the factory is not initialised; generic ENOMEM (12) when the provider fails.
    bool initialize(const crypto_factory& factory, std::error_code& ec);

    // Opens the service key container with password into both key objects; 529 on failure,
    // which keeps the previously held container whole.
    bool import_container(const std::wstring& password, const bytes& container,
                          std::error_code& ec);

    // Builds the file cipher from the container's storage key: 513 without a container,
    // then 521, 522, 529 or 523 for the step that failed.
    bool create_encryptor(const std::wstring& password, std::error_code& ec);

    // n rounded up to the cipher's block size; 514 and 0 without a cipher.
    std::size_t get_size_for_encrypted_data(std::size_t n, std::error_code& ec) const;
    // The zero bytes needed to fill n up to whole blocks; 0 on failure.
    std::size_t get_padding(std::size_t n, std::error_code& ec) const;
    // n when it is a multiple of block, else the next multiple (block is never 0).
    static std::size_t get_encrypted_data_size(std::size_t n, std::size_t block) noexcept;

    // Encrypts data (zero-filled to whole blocks) from the IV last set: 514 without a
    // cipher, 515 on failure, an empty result without error for empty data.
    bytes encrypt(const bytes& data, std::error_code& ec);
    // The same into out, which holds get_size_for_encrypted_data(n) bytes (large files are
    // encrypted straight into their file image).
    bool encrypt(const unsigned char* in, std::size_t n, unsigned char* out, std::error_code& ec);
    // Decrypts data into as many bytes (no padding removed): 514 without a cipher, 516 on
    // failure (for instance a length that is not whole blocks).
    bytes decrypt(const bytes& data, std::error_code& ec);
    // The same into out, which holds n bytes.
    bool decrypt(const unsigned char* in, std::size_t n, unsigned char* out, std::error_code& ec);

    // Sets the IV of the file cipher: 514 without a cipher, 526 when refused.
    bool set_iv(const bytes& iv, std::error_code& ec);
    // The IV last set and the IV length; only meaningful after create_encryptor().
    bytes get_iv() const;
    std::size_t get_iv_size() const;

    // The service public key: 513 without a ready asymmetric key, 520 on failure.
    bytes get_public_key(std::error_code& ec) const;
    // An encryptor sharing the service's asymmetric key, for unpacking client key stores.
    asymmetric_encryptor get_cipher() const;
    // The provider handle given to initialize().
    const crypto_factory& get_factory() const noexcept { return m_factory; }
    crypto_factory& get_factory() noexcept { return m_factory; }
    // True once a service container was imported.
    bool initialized() const;

    // Drops the file ciphers and empties the key container object; the second form
    // reports a provider failure as 512.
    void reset();
    bool reset(std::error_code& ec);

  private:
    std::shared_ptr<SymmetricEncrypter> top() const;

    crypto_factory m_factory;
    std::shared_ptr<DiffieHellmanBase> m_container;
    std::stack<std::shared_ptr<SymmetricEncrypter>> m_encrypters;
    std::shared_ptr<AsymmetcricEncrypterBase> m_asymmetric;
};

// size fresh random bytes from the provider of factory, for a file IV; empty on failure
// (ec as the random generator set it).
std::vector<unsigned char> generate_iv(crypto_factory& factory, std::size_t size,
                                       std::error_code& ec);
