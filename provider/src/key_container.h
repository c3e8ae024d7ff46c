#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "drbg.h"
#include "secret.h"
#include "x25519.h"

namespace ztcrypto_detail {

// PBKDF2 iteration counts a container may carry: below the minimum a container would be
// too cheap to attack, above the maximum an import could be made to run for minutes.
constexpr std::uint32_t kMinIterations = 1000;
constexpr std::uint32_t kMaxIterations = 10000000;

// What a key container holds: two X25519 key pairs, a creation time and the PBKDF2
// iteration count that protects it.
struct ContainerKeys {
    Secret agreement_private;
    PublicKey agreement_public{};
    Secret asymmetric_private;
    PublicKey asymmetric_public{};
    std::time_t created = 0;
    std::uint32_t iterations = 0;
};

// The DER key container of `keys`, sealed under `password` with a fresh salt and fresh
// nonces from `drbg`. Throws InvalidArgumentException for an empty password, an iteration
// count out of range or a creation time outside the years 1 to 9999.
std::vector<std::uint8_t> seal_key_container(const ContainerKeys& keys,
                                             const std::wstring& password, Drbg& drbg,
                                             const char* method);

// Opens a DER key container with `password`. Throws Exception (malformed_data) for anything
// that departs from the layout, (authentication_failed) for a wrong password or changed
// sealed data; nothing is returned partly.
ContainerKeys open_key_container(const std::uint8_t* data, std::size_t size,
                                 const std::wstring& password, const char* method);

}  // namespace ztcrypto_detail
