#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "drbg.h"
#include "secret.h"

namespace ztcrypto_detail {

constexpr std::size_t kX25519Size = 32;
using PublicKey = std::array<std::uint8_t, kX25519Size>;

// A fresh X25519 private key drawn from `drbg`.
Secret x25519_generate(Drbg& drbg);
// The public key of a 32-byte private key.
PublicKey x25519_public(const Secret& private_key);
// X25519(private, peer public); throws Exception when the peer key is degenerate (the
// shared value would be all zeros).
Secret x25519_shared(const Secret& private_key, const std::uint8_t* peer_public,
                     const char* method);

}  // namespace ztcrypto_detail
