#pragma once

#include <cstddef>
#include <cstdint>

#include "ztcrypto/export.h"

// A message digest (the default is SHA-256).
class ZTCRYPTO_API HashAlgorithmBase {
  public:
    HashAlgorithmBase() = default;
    HashAlgorithmBase(const HashAlgorithmBase&) = delete;
    HashAlgorithmBase& operator=(const HashAlgorithmBase&) = delete;
    virtual ~HashAlgorithmBase();

    // The digest length in bytes (32 for SHA-256).
    virtual std::size_t size() const = 0;
    // True once initialize() succeeded.
    virtual bool is_initialized() const = 0;
    // Prepares the object for digest(); may be called again at any time.
    virtual void initialize() = 0;
    // Writes the digest of `n` bytes at `in` to `out`, which must hold size() bytes.
    // Throws when not initialized or when `out` (or `in` with n > 0) is null.
    virtual void digest(const std::uint8_t* in, std::size_t n, std::uint8_t* out) = 0;
};
