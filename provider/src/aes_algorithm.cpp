#include "aes_algorithm.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "aes_cbc_encrypter.h"
#include "failure.h"
#include "kdf.h"
#include "symmetric_key_container.h"
#include "ztcrypto/asymmetric_encrypter.h"

namespace ztcrypto_detail {

namespace {

// ephemeral public key (32) || sealed key (32) || tag (16)
constexpr std::size_t kWrappedSize = 32 + 32 + 16;

}  // namespace

void AesAlgorithm::import_key(const std::wstring& password, const std::uint8_t* data,
                              std::size_t size) {
    static const char* const method = "SymmetricAlgorithm::import_key";
    guarded(method, [&] {
        Secret key = open_symmetric_key(data, size, password, method);
        if (key.size() != kKeySize) {
            fail(method, Exception::malformed_data, "key of a wrong size");
        }
        key_ = std::move(key);
    });
}

void AesAlgorithm::import_wrapped_key(const std::uint8_t* data, std::size_t size,
                                      const AsymmetcricEncrypterBase& asymmetric) {
    static const char* const method = "SymmetricAlgorithm::import_wrapped_key";
    guarded(method, [&] {
        if (data == nullptr || size != kWrappedSize) {
            throw InvalidArgumentException("data", method, "is not a wrapped key");
        }
        RawMemoryDefault key = asymmetric.decrypt(data, size);
        if (key.size() != kKeySize) {
            fail(method, Exception::malformed_data, "key of a wrong size");
        }
        key_ = Secret(key.data(), key.size());
    });
}

std::vector<std::uint8_t> AesAlgorithm::export_wrapped_key(
    const AsymmetcricEncrypterBase& asymmetric) const {
    static const char* const method = "SymmetricAlgorithm::export_wrapped_key";
    return guarded(method, [&] {
        require_key(method);
        return asymmetric.encrypt(key_.data(), key_.size());
    });
}

void AesAlgorithm::generate_key() {
    guarded("SymmetricAlgorithm::generate_key", [&] {
        Secret key(kKeySize);
        core_->drbg->generate(key.data(), key.size());
        key_ = std::move(key);
    });
}

std::shared_ptr<SymmetricEncrypter> AesAlgorithm::create_encrypter() const {
    static const char* const method = "SymmetricAlgorithm::create_encrypter";
    return guarded(method, [&]() -> std::shared_ptr<SymmetricEncrypter> {
        require_key(method);
        return std::make_shared<AesCbcEncrypter>(key_);
    });
}

std::vector<std::uint8_t> AesAlgorithm::export_key(const std::wstring& password) const {
    static const char* const method = "SymmetricAlgorithm::export_key";
    return guarded(method, [&] {
        require_key(method);
        return seal_symmetric_key(key_, password, *core_->drbg, method);
    });
}

std::vector<std::uint8_t> AesAlgorithm::authentication_tag(const std::uint8_t* data,
                                                           std::size_t n) const {
    static const char* const method = "SymmetricAlgorithm::authentication_tag";
    return guarded(method, [&] {
        require_key(method);
        if (data == nullptr && n != 0) {
            throw InvalidArgumentException("data", method, "is null");
        }
        // A key of its own for the MAC, so the cipher key is never used for two purposes.
        static constexpr char kInfo[] = "ztcrypto mac";
        const Secret mac_key =
            hkdf_sha256(key_.data(), key_.size(), nullptr, 0,
                        reinterpret_cast<const std::uint8_t*>(kInfo), sizeof kInfo - 1, kTagSize);
        std::vector<std::uint8_t> tag(kTagSize);
        unsigned int length = 0;
        static const std::uint8_t kEmpty = 0;
        if (HMAC(EVP_sha256(), mac_key.data(), static_cast<int>(mac_key.size()),
                 n == 0 ? &kEmpty : data, n, tag.data(), &length) == nullptr ||
            length != kTagSize) {
            throw_openssl(method, "HMAC-SHA256 failed");
        }
        return tag;
    });
}

void AesAlgorithm::require_key(const char* method) const {
    if (key_.empty()) {
        fail(method, Exception::not_initialized, "no key generated or imported");
    }
}

}  // namespace ztcrypto_detail
