#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "secret.h"

namespace ztcrypto_detail {

constexpr std::size_t kGcmKeySize = 32;
constexpr std::size_t kGcmNonceSize = 12;
constexpr std::size_t kGcmTagSize = 16;

// AES-256-GCM: ciphertext (same length as the plaintext) followed by the 16-byte tag.
std::vector<std::uint8_t> gcm_seal(const Secret& key, const std::uint8_t* nonce,
                                   const std::uint8_t* aad, std::size_t aad_size,
                                   const std::uint8_t* plain, std::size_t plain_size);

// Opens what gcm_seal made (`sealed` = ciphertext || tag). Throws Exception
// (authentication_failed) when the key, nonce, AAD or any byte does not match.
Secret gcm_open(const Secret& key, const std::uint8_t* nonce, const std::uint8_t* aad,
                std::size_t aad_size, const std::uint8_t* sealed, std::size_t sealed_size,
                const char* method);

}  // namespace ztcrypto_detail
