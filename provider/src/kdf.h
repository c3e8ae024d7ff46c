#pragma once

#include <cstddef>
#include <cstdint>

#include "secret.h"

namespace ztcrypto_detail {

// HKDF-SHA256 (extract and expand) of `ikm` with `salt` and `info` (each may be empty),
// `length` bytes long. Throws Exception when OpenSSL fails.
Secret hkdf_sha256(const std::uint8_t* ikm, std::size_t ikm_size, const std::uint8_t* salt,
                   std::size_t salt_size, const std::uint8_t* info, std::size_t info_size,
                   std::size_t length);

// PBKDF2-HMAC-SHA256 of `password` with `salt` and `iterations`, `length` bytes long.
Secret pbkdf2_sha256(const Secret& password, const std::uint8_t* salt, std::size_t salt_size,
                     std::uint32_t iterations, std::size_t length);

}  // namespace ztcrypto_detail
