#pragma once

#include <cstddef>
#include <cstdint>

#include "ztcrypto/export.h"

// A cryptographically secure random generator drawn from its factory's generator.
class ZTCRYPTO_API RandomBase {
  public:
    RandomBase() = default;
    RandomBase(const RandomBase&) = delete;
    RandomBase& operator=(const RandomBase&) = delete;
    virtual ~RandomBase();

    // Fills `n` bytes at `buffer` with random bytes. Throws InvalidArgumentException
    // ("buffer") for a null buffer with n > 0, Exception when the generator fails.
    virtual void generate(std::uint8_t* buffer, std::size_t n) = 0;
};
