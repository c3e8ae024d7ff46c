#include "symmetric_key_container.h"

#include "aead.h"
#include "der.h"
#include "failure.h"
#include "kdf.h"
#include "password.h"

namespace ztcrypto_detail {

namespace {

constexpr std::uint64_t kVersion = 1;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kKeySize = 32;

Secret wrapping_key(const std::wstring& password, const std::uint8_t* salt, const char* method) {
    const Secret utf8 = password_utf8(password, method);
    return hkdf_sha256(utf8.data(), utf8.size(), salt, kSaltSize, nullptr, 0, kGcmKeySize);
}

}  // namespace

std::vector<std::uint8_t> seal_symmetric_key(const Secret& key, const std::wstring& password,
                                             Drbg& drbg, const char* method) {
    if (key.size() != kKeySize) {
        fail(method, Exception::not_initialized, "no symmetric key");
    }
    std::uint8_t salt[kSaltSize];
    std::uint8_t nonce[kGcmNonceSize];
    drbg.generate(salt, sizeof salt);
    drbg.generate(nonce, sizeof nonce);
    const Secret wrap = wrapping_key(password, salt, method);
    const der::Bytes sealed = gcm_seal(wrap, nonce, nullptr, 0, key.data(), key.size());
    return der::sequence({
        der::integer(kVersion),
        der::octet_string(salt, sizeof salt),
        der::octet_string(nonce, sizeof nonce),
        der::octet_string(sealed.data(), kKeySize),
        der::octet_string(sealed.data() + kKeySize, kGcmTagSize),
    });
}

Secret open_symmetric_key(const std::uint8_t* data, std::size_t size, const std::wstring& password,
                          const char* method) {
    if (data == nullptr && size != 0) {
        throw InvalidArgumentException("data", method, "is null");
    }
    der::Reader outer(data, data + size, method);
    der::Reader body = outer.enter(der::kSequence);
    outer.expect_end();
    body.expect_integer(kVersion);
    const der::Bytes salt = body.octets(kSaltSize);
    const der::Bytes nonce = body.octets(kGcmNonceSize);
    der::Bytes sealed = body.octets(kKeySize);
    const der::Bytes tag = body.octets(kGcmTagSize);
    body.expect_end();
    sealed.insert(sealed.end(), tag.begin(), tag.end());
    const Secret wrap = wrapping_key(password, salt.data(), method);
    return gcm_open(wrap, nonce.data(), nullptr, 0, sealed.data(), sealed.size(), method);
}

}  // namespace ztcrypto_detail
