#include "x25519_key_agreement.h"

#include <algorithm>
#include <cstring>

#include "aead.h"
#include "failure.h"
#include "kdf.h"
#include "symmetric_key_container.h"

namespace ztcrypto_detail {

namespace {

constexpr std::size_t kSessionKeySize = 32;
constexpr std::size_t kAnswerSize = 2 * kX25519Size;
constexpr char kSessionInfo[] = "session";
constexpr char kStorageInfo[] = "storage";
// The format of seal_secret's output.
constexpr std::uint8_t kSealedVersion = 1;

// What seal_secret authenticates besides the data: the version byte and the label.
Secret sealed_aad(const std::string& label) {
    Secret aad(1 + label.size());
    aad.data()[0] = kSealedVersion;
    std::copy(label.begin(), label.end(), aad.data() + 1);
    return aad;
}

const std::uint8_t* text_bytes(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

}  // namespace

void X25519KeyAgreement::import_container(const std::uint8_t* data, std::size_t size,
                                          const std::wstring& password) {
    static const char* const method = "DiffieHellman::import_container";
    guarded(method, [&] {
        ContainerKeys keys = open_key_container(data, size, password, method);
        container_ = std::move(keys);
        // A new container starts a new agreement; the private parameter is set separately
        // and stays.
        agreement_.reset();
        client_ephemeral_.clear();
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::export_container(const std::wstring& password) const {
    static const char* const method = "DiffieHellman::export_container";
    return guarded(method, [&] {
        return seal_key_container(require_container(method), password, *core_->drbg, method);
    });
}

std::pair<std::shared_ptr<RawMemoryDefault>, bool> X25519KeyAgreement::import_key_material(
    const RawMemoryDefault& block) {
    static const char* const method = "DiffieHellman::import_key_material";
    return guarded(method, [&] {
        const ContainerKeys& keys = require_container(method);
        if (block.data() == nullptr || block.size() != kX25519Size) {
            throw InvalidArgumentException("block", method, "must be a 32-byte X25519 key");
        }
        const std::uint8_t* peer = block.data();
        const Secret ephemeral = x25519_generate(*core_->drbg);
        const PublicKey ephemeral_public = x25519_public(ephemeral);
        const Secret first = x25519_shared(ephemeral, peer, method);
        const Secret second = x25519_shared(keys.agreement_private, peer, method);

        Agreement agreement;
        agreement.ikm = Secret::concat(first.data(), first.size(), second.data(), second.size());
        agreement.salt.assign(peer, peer + kX25519Size);
        agreement.salt.insert(agreement.salt.end(), ephemeral_public.begin(),
                              ephemeral_public.end());

        auto answer = std::make_shared<RawMemoryDefault>(kAnswerSize);
        std::memcpy(answer->data(), ephemeral_public.data(), kX25519Size);
        std::memcpy(answer->data() + kX25519Size, keys.agreement_public.data(), kX25519Size);
        agreement_ = std::move(agreement);
        client_ephemeral_.clear();
        return std::make_pair(answer, true);
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::get_additional_private_parameter() const {
    return guarded("DiffieHellman::get_additional_private_parameter", [&] {
        return std::vector<std::uint8_t>(private_parameter_.data(),
                                         private_parameter_.data() + private_parameter_.size());
    });
}

void X25519KeyAgreement::set_additional_private_parameter(const std::uint8_t* data,
                                                          std::size_t size, int mode) {
    static const char* const method = "DiffieHellman::set_additional_private_parameter";
    guarded(method, [&] {
        if (mode != 0) {
            throw InvalidArgumentException("mode", method, "must be 0");
        }
        if (data == nullptr && size != 0) {
            throw InvalidArgumentException("data", method, "is null");
        }
        private_parameter_ = size == 0 ? Secret() : Secret(data, size);
    });
}

void X25519KeyAgreement::initialize() {
    container_.reset();
    agreement_.reset();
    client_ephemeral_.clear();
    private_parameter_.clear();
}

std::vector<std::uint8_t> X25519KeyAgreement::get_symmetric_key_container(
    const std::wstring& password) const {
    static const char* const method = "DiffieHellman::get_symmetric_key_container";
    return guarded(method, [&] {
        if (!agreement_) {
            fail(method, Exception::not_initialized, "no completed key agreement");
        }
        const Secret info = Secret::concat(text_bytes(kSessionInfo), sizeof kSessionInfo - 1,
                                           private_parameter_.data(), private_parameter_.size());
        const Secret key =
            hkdf_sha256(agreement_->ikm.data(), agreement_->ikm.size(), agreement_->salt.data(),
                        agreement_->salt.size(), info.data(), info.size(), kSessionKeySize);
        return seal_symmetric_key(key, password, *core_->drbg, method);
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::get_storage_key_container(
    const std::wstring& password) const {
    static const char* const method = "DiffieHellman::get_storage_key_container";
    return guarded(method, [&] {
        // The storage key depends on the container alone, so data sealed with it stays
        // readable across runs.
        const Secret& agreement_private = require_container(method).agreement_private;
        const Secret key =
            hkdf_sha256(agreement_private.data(), agreement_private.size(), nullptr, 0,
                        text_bytes(kStorageInfo), sizeof kStorageInfo - 1, kSessionKeySize);
        return seal_symmetric_key(key, password, *core_->drbg, method);
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::create_container(const std::wstring& password,
                                                               std::time_t created,
                                                               std::uint32_t iterations) {
    static const char* const method = "DiffieHellman::create_container";
    return guarded(method, [&] {
        ContainerKeys keys;
        keys.agreement_private = x25519_generate(*core_->drbg);
        keys.agreement_public = x25519_public(keys.agreement_private);
        keys.asymmetric_private = x25519_generate(*core_->drbg);
        keys.asymmetric_public = x25519_public(keys.asymmetric_private);
        keys.created = created;
        keys.iterations = iterations;
        std::vector<std::uint8_t> encoded =
            seal_key_container(keys, password, *core_->drbg, method);
        initialize();
        container_ = std::move(keys);
        return encoded;
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::create_client_key_material() {
    return guarded("DiffieHellman::create_client_key_material", [&] {
        Secret ephemeral = x25519_generate(*core_->drbg);
        const PublicKey pub = x25519_public(ephemeral);
        agreement_.reset();
        client_ephemeral_ = std::move(ephemeral);
        client_ephemeral_public_ = pub;
        return std::vector<std::uint8_t>(pub.begin(), pub.end());
    });
}

void X25519KeyAgreement::import_server_key_material(const RawMemoryDefault& answer) {
    static const char* const method = "DiffieHellman::import_server_key_material";
    guarded(method, [&] {
        if (client_ephemeral_.empty()) {
            fail(method, Exception::not_initialized, "no client key material was created");
        }
        if (answer.data() == nullptr || answer.size() != kAnswerSize) {
            throw InvalidArgumentException("answer", method, "must be 64 bytes");
        }
        const std::uint8_t* server_ephemeral = answer.data();
        const std::uint8_t* server_static = answer.data() + kX25519Size;
        const Secret first = x25519_shared(client_ephemeral_, server_ephemeral, method);
        const Secret second = x25519_shared(client_ephemeral_, server_static, method);

        Agreement agreement;
        agreement.ikm = Secret::concat(first.data(), first.size(), second.data(), second.size());
        agreement.salt.assign(client_ephemeral_public_.begin(), client_ephemeral_public_.end());
        agreement.salt.insert(agreement.salt.end(), server_ephemeral,
                              server_ephemeral + kX25519Size);
        agreement_ = std::move(agreement);
        // The ephemeral key has served its one agreement.
        client_ephemeral_.clear();
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::get_public_key() const {
    static const char* const method = "DiffieHellman::get_public_key";
    return guarded(method, [&] {
        const PublicKey& pub = require_container(method).agreement_public;
        return std::vector<std::uint8_t>(pub.begin(), pub.end());
    });
}

std::time_t X25519KeyAgreement::get_creation_time() const {
    static const char* const method = "DiffieHellman::get_creation_time";
    return guarded(method, [&] { return require_container(method).created; });
}

const ContainerKeys& X25519KeyAgreement::require_container(const char* method) const {
    if (!container_) {
        fail(method, Exception::not_initialized, "no key container");
    }
    return *container_;
}

Secret X25519KeyAgreement::labelled_secret(const std::string& label, const char* method) const {
    // The storage key seals the database; a caller-chosen label must not reach it.
    if (label.empty() || label == kStorageInfo) {
        throw InvalidArgumentException("label", method, "is empty or reserved");
    }
    const Secret& key = require_container(method).agreement_private;
    return hkdf_sha256(key.data(), key.size(), nullptr, 0, text_bytes(label.c_str()), label.size(),
                       kSessionKeySize);
}

RawMemoryDefault X25519KeyAgreement::derive_secret(const std::string& label) const {
    static const char* const method = "DiffieHellman::derive_secret";
    return guarded(method, [&] {
        const Secret derived = labelled_secret(label, method);
        return RawMemoryDefault::copy_of(derived.data(), derived.size());
    });
}

std::vector<std::uint8_t> X25519KeyAgreement::seal_secret(const std::string& label,
                                                          const std::uint8_t* data,
                                                          std::size_t size) const {
    static const char* const method = "DiffieHellman::seal_secret";
    return guarded(method, [&] {
        if (data == nullptr && size != 0) {
            throw InvalidArgumentException("data", method, "is null");
        }
        const Secret key = labelled_secret(label, method);
        std::vector<std::uint8_t> out(1 + kGcmNonceSize);
        out[0] = kSealedVersion;
        core_->drbg->generate(out.data() + 1, kGcmNonceSize);
        const Secret aad = sealed_aad(label);
        const auto sealed = gcm_seal(key, out.data() + 1, aad.data(), aad.size(), data, size);
        out.insert(out.end(), sealed.begin(), sealed.end());
        return out;
    });
}

RawMemoryDefault X25519KeyAgreement::open_secret(const std::string& label,
                                                 const std::uint8_t* sealed,
                                                 std::size_t size) const {
    static const char* const method = "DiffieHellman::open_secret";
    return guarded(method, [&] {
        const Secret key = labelled_secret(label, method);
        if (sealed == nullptr || size < 1 + kGcmNonceSize + kGcmTagSize) {
            fail(method, Exception::authentication_failed, "sealed data too short");
        }
        if (sealed[0] != kSealedVersion) {
            throw InvalidArgumentException("sealed", method, "unknown version");
        }
        const Secret aad = sealed_aad(label);
        const Secret plain = gcm_open(key, sealed + 1, aad.data(), aad.size(),
                                      sealed + 1 + kGcmNonceSize, size - 1 - kGcmNonceSize, method);
        return RawMemoryDefault::copy_of(plain.data(), plain.size());
    });
}

}  // namespace ztcrypto_detail
