#pragma once

#include <memory>

#include "drbg.h"
#include "ztcrypto/random.h"

namespace ztcrypto_detail {

// The default random generator: a child CTR-DRBG of the factory's generator.
class RandomGenerator final : public RandomBase {
  public:
    explicit RandomGenerator(std::shared_ptr<Drbg> drbg) : drbg_(std::move(drbg)) {}

    void generate(std::uint8_t* buffer, std::size_t n) override;

  private:
    std::shared_ptr<Drbg> drbg_;
};

}  // namespace ztcrypto_detail
