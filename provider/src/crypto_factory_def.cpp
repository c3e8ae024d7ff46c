#include "ztcrypto/crypto_factory_def.h"

#include "aes_algorithm.h"
#include "factory_core.h"
#include "failure.h"
#include "nist_checker.h"
#include "random_generator.h"
#include "sha256_hash.h"
#include "x25519_encrypter.h"
#include "x25519_key_agreement.h"

using ztcrypto_detail::fail;
using ztcrypto_detail::guarded;

namespace {

// An empty name selects the default; anything else must name it exactly.
void check_name(const std::wstring& name, const wchar_t* own_name, const char* method) {
    if (!name.empty() && (own_name == nullptr || name != own_name)) {
        fail(method, Exception::unknown_algorithm, "unknown algorithm name");
    }
}

}  // namespace

CryptoFactoryDef::CryptoFactoryDef() = default;

CryptoFactoryDef::~CryptoFactoryDef() = default;

void CryptoFactoryDef::initialize(const std::uint8_t* data, std::size_t size) {
    static const char* const method = "CryptoFactory::initialize";
    guarded(method, [&] {
        if (data == nullptr && size != 0) {
            throw InvalidArgumentException("data", method, "is null");
        }
        auto core = std::make_shared<ztcrypto_detail::FactoryCore>();
        core->drbg = ztcrypto_detail::Drbg::make_parent(data, size);
        core_ = std::move(core);
    });
}

std::shared_ptr<SequenceCheckerBase> CryptoFactoryDef::create_sequence_checker(
    const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_sequence_checker";
    return guarded(method, [&]() -> std::shared_ptr<SequenceCheckerBase> {
        check_name(name, L"nist", method);
        return std::make_shared<ztcrypto_detail::NistChecker>();
    });
}

std::shared_ptr<RandomBase> CryptoFactoryDef::create_random(const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_random";
    return guarded(method, [&]() -> std::shared_ptr<RandomBase> {
        check_name(name, nullptr, method);
        if (!core_) {
            fail(method, Exception::not_initialized, "the factory is not initialized");
        }
        return std::make_shared<ztcrypto_detail::RandomGenerator>(
            ztcrypto_detail::Drbg::make_child(core_->drbg));
    });
}

std::shared_ptr<HashAlgorithmBase> CryptoFactoryDef::create_hash(const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_hash";
    return guarded(method, [&]() -> std::shared_ptr<HashAlgorithmBase> {
        check_name(name, nullptr, method);
        return std::make_shared<ztcrypto_detail::Sha256Hash>();
    });
}

std::shared_ptr<SymmetricAlgoritmBase> CryptoFactoryDef::create_symmetric(
    const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_symmetric";
    return guarded(method, [&]() -> std::shared_ptr<SymmetricAlgoritmBase> {
        check_name(name, nullptr, method);
        if (!core_) {
            fail(method, Exception::not_initialized, "the factory is not initialized");
        }
        return std::make_shared<ztcrypto_detail::AesAlgorithm>(core_);
    });
}

std::shared_ptr<DiffieHellmanBase> CryptoFactoryDef::create_key_agreement(
    const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_key_agreement";
    return guarded(method, [&]() -> std::shared_ptr<DiffieHellmanBase> {
        check_name(name, nullptr, method);
        if (!core_) {
            fail(method, Exception::not_initialized, "the factory is not initialized");
        }
        return std::make_shared<ztcrypto_detail::X25519KeyAgreement>(core_);
    });
}

std::shared_ptr<AsymmetcricEncrypterBase> CryptoFactoryDef::create_asymmetric(
    const std::wstring& name) {
    static const char* const method = "CryptoFactory::create_asymmetric";
    return guarded(method, [&]() -> std::shared_ptr<AsymmetcricEncrypterBase> {
        check_name(name, nullptr, method);
        if (!core_) {
            fail(method, Exception::not_initialized, "the factory is not initialized");
        }
        return std::make_shared<ztcrypto_detail::X25519Encrypter>(core_);
    });
}
