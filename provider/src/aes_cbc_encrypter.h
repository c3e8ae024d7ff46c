#pragma once

#include <vector>

#include "openssl_handles.h"
#include "secret.h"
#include "ztcrypto/symmetric_encrypter.h"

namespace ztcrypto_detail {

// AES-256-CBC without padding. Each call restarts from the IV last set, so the same
// plaintext under the same IV gives the same ciphertext (the session protocol has no room
// for a per-packet nonce; that equality is a known property, not an accident).
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
    // Restarts `ctx` from the IV last set; throws without one or for null buffers.
    void start(EVP_CIPHER_CTX* ctx, const std::uint8_t* in, std::uint8_t* out, const char* method);
    // Runs `n` bytes (a multiple of the block) through `ctx`, continuing its chain.
    static void update(EVP_CIPHER_CTX* ctx, const std::uint8_t* in, std::size_t n,
                       std::uint8_t* out, const char* method);

    CipherCtxPtr encrypt_ctx_;
    CipherCtxPtr decrypt_ctx_;
    std::vector<std::uint8_t> iv_;
};

}  // namespace ztcrypto_detail
