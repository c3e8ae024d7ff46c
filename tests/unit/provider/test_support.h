// Shared helpers of the provider tests, all through the public interface.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ztcrypto/ztcrypto.h"

namespace provider_test {

using Bytes = std::vector<std::uint8_t>;

// The cheapest iteration count the provider accepts, so that tests stay fast.
constexpr std::uint32_t kFastIterations = 1000;
// 2024-01-31 23:59:59 UTC.
constexpr std::time_t kReferenceTime = 1706745599;

inline std::shared_ptr<CryptoFactoryDef> make_factory() {
    auto factory = std::make_shared<CryptoFactoryDef>();
    const std::uint8_t seed[] = "provider tests";
    factory->initialize(seed, sizeof seed);
    return factory;
}

inline Bytes make_container(CryptoFactoryDef& factory, const std::wstring& password,
                            std::uint32_t iterations = kFastIterations) {
    return factory.create_key_agreement(L"")->create_container(password, kReferenceTime,
                                                               iterations);
}

// The key held by `algorithm`, observed through what it does: the AES-256-CBC encryption
// of a fixed 32-byte text under a zero IV. Equal fingerprints mean equal keys.
inline Bytes fingerprint(SymmetricAlgoritmBase& algorithm) {
    auto encrypter = algorithm.create_encrypter();
    encrypter->set_iv(Bytes(16, 0));
    const Bytes text(32, 0x5A);
    Bytes out(32);
    encrypter->encrypt(text.data(), text.size(), out.data());
    return out;
}

// The fingerprint of the key inside a symmetric key container.
inline Bytes key_fingerprint(CryptoFactoryDef& factory, const Bytes& key_container,
                             const std::wstring& password) {
    auto algorithm = factory.create_symmetric(L"");
    algorithm->import_key(password, key_container.data(), key_container.size());
    return fingerprint(*algorithm);
}

inline RawMemoryDefault view(const Bytes& bytes) {
    return RawMemoryDefault::view(bytes.data(), bytes.size());
}

// Expects `call` to throw the provider's Exception with `code`.
inline void expect_code(const std::function<void()>& call, int code) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected code " << code;
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), code) << e.what();
    }
}

// Expects `call` to throw InvalidArgumentException naming `argument`.
inline void expect_invalid_argument(const std::function<void()>& call,
                                    const std::string& argument) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected a bad " << argument;
    } catch (const InvalidArgumentException& e) {
        EXPECT_EQ(e.argument(), argument);
    }
}

// Expects `import` to throw for `data` with any one byte changed, in its low bit or all bits.
inline void expect_every_changed_byte_refused(const Bytes& data,
                                              const std::function<void(const Bytes&)>& import) {
    for (std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0xFF}}) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            Bytes changed = data;
            changed[i] ^= mask;
            EXPECT_THROW(import(changed), Exception) << "accepted byte " << i << " ^ " << int{mask};
        }
    }
}

}  // namespace provider_test
