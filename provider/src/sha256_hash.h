#pragma once

#include "openssl_handles.h"
#include "ztcrypto/hash_algorithm.h"

namespace ztcrypto_detail {

// The default hash, SHA-256.
class Sha256Hash final : public HashAlgorithmBase {
  public:
    std::size_t size() const override { return 32; }
    bool is_initialized() const override { return md_ != nullptr; }
    void initialize() override;
    void digest(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override;

  private:
    MdPtr md_;
};

}  // namespace ztcrypto_detail
