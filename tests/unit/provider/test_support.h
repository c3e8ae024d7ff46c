#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ztcrypto/ztcrypto.h"

namespace provider_test {

using Bytes = std::vector<std::uint8_t>;

// The cheapest iteration count the provider accepts, so tests that import many
// containers stay fast.
constexpr std::uint32_t kFastIterations = 1000;

// 2024-01-31 23:59:59 UTC.
constexpr std::time_t kReferenceTime = 1706745599;

// A factory initialized with a fixed personalisation.
std::shared_ptr<CryptoFactoryDef> make_factory();

// A new container made by a fresh key-agreement object of `factory`.
Bytes make_container(CryptoFactoryDef& factory, const std::wstring& password,
                     std::uint32_t iterations = kFastIterations,
                     std::time_t created = kReferenceTime);

// The symmetric key inside a symmetric key container, observed through what it does: the
// AES-256-CBC encryption of a fixed 32-byte text under a zero IV.
Bytes key_fingerprint(CryptoFactoryDef& factory, const Bytes& key_container,
                      const std::wstring& password);

// The whole content of a file.
Bytes read_file(const std::string& path);

}  // namespace provider_test
