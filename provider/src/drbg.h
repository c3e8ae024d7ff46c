#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "openssl_handles.h"

namespace ztcrypto_detail {

// A CTR-DRBG (AES-256, with derivation function, 256-bit strength). A parent draws its
// seed from the operating system; a child draws it from its parent, which it keeps alive.
class Drbg {
  public:
    // A parent generator personalised with `size` bytes at `personalisation`.
    static std::shared_ptr<Drbg> make_parent(const std::uint8_t* personalisation, std::size_t size);
    // A child generator seeded from `parent`.
    static std::shared_ptr<Drbg> make_child(const std::shared_ptr<Drbg>& parent);

    // Fills `n` bytes at `out`; throws Exception when the generator fails.
    void generate(std::uint8_t* out, std::size_t n);

  private:
    static std::shared_ptr<Drbg> make(EVP_RAND_CTX* parent_ctx, const std::shared_ptr<Drbg>& parent,
                                      const std::uint8_t* personalisation, std::size_t size);

    std::shared_ptr<Drbg> parent_;
    RandCtxPtr ctx_;
};

}  // namespace ztcrypto_detail
