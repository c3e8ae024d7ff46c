#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drbg.h"
#include "secret.h"

namespace ztcrypto_detail {

// The 32-byte symmetric key sealed under `password`:
// SEQUENCE { version INTEGER (1), salt OCTET STRING (16), nonce OCTET STRING (12),
//            ciphertext OCTET STRING (32), tag OCTET STRING (16) },
// with AES-256-GCM under HKDF-SHA256(password as UTF-8, salt).
std::vector<std::uint8_t> seal_symmetric_key(const Secret& key, const std::wstring& password,
                                             Drbg& drbg, const char* method);

// Opens what seal_symmetric_key made. Throws Exception (malformed_data) for another layout,
// (authentication_failed) for a wrong password or changed bytes.
Secret open_symmetric_key(const std::uint8_t* data, std::size_t size, const std::wstring& password,
                          const char* method);

}  // namespace ztcrypto_detail
