#pragma once

#include <vector>

#include "openssl_handles.h"
#include "secret.h"
#include "ztcrypto/symmetric_encrypter.h"

namespace ztcrypto_detail {

// AES-256-CBC without padding. Each call restarts from the IV last set, so the same
// plaintext under the same IV gives the same ciphertext (the session protocol has no room
// for a per-packet nonce; that equality is a known property, not an accident).
// Only the key is kept between calls: each call keys a cipher context of its own and frees
// it, wiped, at the end. A daemon holds one encrypter per client session, and two keyed
// contexts would cost more than a kilobyte each session for a key schedule that takes well
// under a microsecond to make.
class AesCbcEncrypter final : public SymmetricEncrypter {
  public:
    static constexpr std::size_t kBlock = 16;
    static constexpr std::size_t kKeySize = 32;

    // Keys the cipher with a copy of the 32-byte `key`.
    explicit AesCbcEncrypter(const Secret& key);

    std::vector<std::uint8_t> get_iv() const override { return iv_; }
    void set_iv(const std::vector<std::uint8_t>& iv) override;
    std::size_t iv_size(int mode = 0) const override;
    std::size_t block_size(int mode = 0) const override;
    void encrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override;
    void decrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override;

  private:
    // A context keyed for one call in direction `encrypt` from the IV last set; throws
    // without an IV or for null buffers.
    CipherCtxPtr start(int encrypt, const std::uint8_t* in, std::uint8_t* out,
                       const char* method) const;
    // Runs `n` bytes (a multiple of the block) through `ctx`, continuing its chain.
    static void update(EVP_CIPHER_CTX* ctx, const std::uint8_t* in, std::size_t n,
                       std::uint8_t* out, const char* method);

    Secret key_;
    std::vector<std::uint8_t> iv_;
};

}  // namespace ztcrypto_detail
