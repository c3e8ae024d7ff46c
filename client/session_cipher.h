#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "ztcrypto/crypto_factory_def.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/raw_memory.h"
#include "ztcrypto/symmetric_encrypter.h"

namespace client {

// The client's half of a session's cryptography: the key agreement with the service and the
// encrypter of the secure session. The session key is HKDF over both agreements with the
// account's token mixed in, exactly as the service's session cipher derives it.
//
// Operations clear ec on success; on failure they return false or an empty vector with a
// "crypto" error and leave the cipher as it was. Provider exceptions never leave.
class session_cipher {
  public:
    using bytes = std::vector<unsigned char>;

    explicit session_cipher(std::shared_ptr<CryptoFactoryDef> factory);

    // A fresh ephemeral key; returns its public half, the client's key material.
    bytes key_material(std::error_code& ec);
    // Completes the agreement with the service's 64-byte answer (its ephemeral public key,
    // then its static key-agreement key).
    bool import_answer(const bytes& answer, std::error_code& ec);
    // Mixes the account's token into the session key. Takes effect for the next
    // create_encryptor().
    bool set_token(const RawMemoryDefault& token, std::error_code& ec);
    // Keys a new encrypter from the agreement (and the token, when set) and gives it iv.
    bool create_encryptor(const bytes& iv, std::error_code& ec);
    // True once an encrypter exists.
    bool ready() const noexcept { return m_encrypter != nullptr; }

    // n fresh random bytes (an initialization vector, for instance).
    bytes random(std::size_t n, std::error_code& ec) const;

    // Encrypts to whole blocks, the last one zero-filled.
    bytes encrypt(const bytes& plain, std::error_code& ec) const;
    // Decrypts whole blocks; block padding stays in place.
    bytes decrypt(const bytes& cipher, std::error_code& ec) const;

  private:
    std::shared_ptr<CryptoFactoryDef> m_factory;
    std::shared_ptr<DiffieHellmanBase> m_agreement;
    std::shared_ptr<SymmetricEncrypter> m_encrypter;
};

// The size of the initialization vector the session's encrypter takes.
inline constexpr std::size_t kSessionIvSize = 16;

}  // namespace client
