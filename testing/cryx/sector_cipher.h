#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <system_error>

namespace zt_cryx {

inline constexpr std::size_t sector_size = 512;

// The 64-byte AES-256-XTS key of one device, kept in memory that is never swapped out and
// wiped when the key goes.
class sector_key {
  public:
    static constexpr std::size_t size = 64;
    sector_key();
    ~sector_key();
    sector_key(const sector_key&) = delete;
    sector_key& operator=(const sector_key&) = delete;

    unsigned char* data() noexcept { return m_bytes.data(); }
    const unsigned char* data() const noexcept { return m_bytes.data(); }

  private:
    std::array<unsigned char, size> m_bytes{};
};

// Derives the device key from the two 32-byte keys of an add record with HKDF-SHA256 (the
// first key, then the second, as input key material; no salt; a fixed label). The two
// halves differ even when both keys are equal, as XTS requires. False with ec on failure.
bool derive_sector_key(std::span<const unsigned char, 32> first,
                       std::span<const unsigned char, 32> second, sector_key& out,
                       std::error_code& ec);

// AES-256-XTS over 512-byte sectors, the sector number (little-endian, 16 bytes) as tweak.
// Not shared between threads.
class sector_cipher {
  public:
    // Keys both directions; false with ec when OpenSSL refuses the key.
    bool init(const sector_key& key, std::error_code& ec);
    // Transforms data (a whole number of sectors, the first of them sector `first`) in place.
    bool encrypt(std::uint64_t first, std::span<unsigned char> data, std::error_code& ec);
    bool decrypt(std::uint64_t first, std::span<unsigned char> data, std::error_code& ec);

  private:
    struct ctx_free {
        void operator()(EVP_CIPHER_CTX* ctx) const noexcept { EVP_CIPHER_CTX_free(ctx); }
    };
    using ctx_ptr = std::unique_ptr<EVP_CIPHER_CTX, ctx_free>;

    bool run(EVP_CIPHER_CTX* ctx, std::uint64_t first, std::span<unsigned char> data,
             std::error_code& ec);

    ctx_ptr m_encrypt;
    ctx_ptr m_decrypt;
};

}  // namespace zt_cryx
