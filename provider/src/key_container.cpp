#include "key_container.h"

#include <cstring>

#include "aead.h"
#include "der.h"
#include "failure.h"
#include "generalized_time.h"
#include "kdf.h"
#include "password.h"

namespace ztcrypto_detail {

namespace {

using der::Bytes;

const Bytes kOidX25519 = {0x2B, 0x65, 0x6E};
const Bytes kOidAes256Cbc = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A};
const Bytes kOidAes256Gcm = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2E};
const Bytes kOidSha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const Bytes kOidPbkdf2 = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};
const Bytes kOidHmacSha256 = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09};

constexpr std::uint64_t kVersion = 1;
constexpr std::uint64_t kUsageAgreement = 1;
constexpr std::uint64_t kUsageAsymmetric = 2;
// Key identifiers name each key's role in the container.
constexpr std::uint64_t kKeyIdAgreement = 1;
constexpr std::uint64_t kKeyIdAsymmetric = 2;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kKeyBits = 256;

// Binds a sealed private key to its role, to both public keys and to the creation time, so
// that no sealed key can be moved to another role, container or date.
Bytes additional_data(std::uint64_t usage, const PublicKey& agreement_public,
                      const PublicKey& asymmetric_public, const std::string& created) {
    Bytes aad;
    aad.push_back(static_cast<std::uint8_t>(usage));
    aad.insert(aad.end(), agreement_public.begin(), agreement_public.end());
    aad.insert(aad.end(), asymmetric_public.begin(), asymmetric_public.end());
    aad.insert(aad.end(), created.begin(), created.end());
    return aad;
}

Secret protection_key(const std::wstring& password, const std::uint8_t* salt,
                      std::uint32_t iterations, const char* method) {
    const Secret utf8 = password_utf8(password, method);
    if (utf8.empty()) {
        throw InvalidArgumentException("password", method, "is empty");
    }
    return pbkdf2_sha256(utf8, salt, kSaltSize, iterations, kGcmKeySize);
}

// Enters one of the two key entries and checks its head, the same for both roles:
// version, { X25519, usage }, keyId. Returns the reader positioned after the keyId.
der::Reader enter_key_entry(der::Reader& top, std::uint64_t usage, std::uint64_t key_id) {
    der::Reader entry = top.enter(der::kSequence);
    entry.expect_integer(kVersion);
    der::Reader algorithm = entry.enter(der::kSequence);
    algorithm.expect_oid(kOidX25519);
    algorithm.expect_integer(usage);
    algorithm.expect_end();
    entry.expect_integer(key_id);
    return entry;
}

}  // namespace

std::vector<std::uint8_t> seal_key_container(const ContainerKeys& keys,
                                             const std::wstring& password, Drbg& drbg,
                                             const char* method) {
    if (keys.iterations < kMinIterations || keys.iterations > kMaxIterations) {
        throw InvalidArgumentException("iterations", method, "out of range");
    }
    const std::string created = format_generalized_time(keys.created);
    if (created.empty()) {
        throw InvalidArgumentException("created", method, "outside the years 1 to 9999");
    }
    std::uint8_t salt[kSaltSize];
    std::uint8_t wrap_nonce[kGcmNonceSize];
    std::uint8_t seal_nonce[kGcmNonceSize];
    drbg.generate(salt, sizeof salt);
    drbg.generate(wrap_nonce, sizeof wrap_nonce);
    drbg.generate(seal_nonce, sizeof seal_nonce);
    const Secret key = protection_key(password, salt, keys.iterations, method);

    const Bytes aad_agreement =
        additional_data(kUsageAgreement, keys.agreement_public, keys.asymmetric_public, created);
    const Bytes wrapped = gcm_seal(key, wrap_nonce, aad_agreement.data(), aad_agreement.size(),
                                   keys.agreement_private.data(), keys.agreement_private.size());
    const Bytes aad_asymmetric =
        additional_data(kUsageAsymmetric, keys.agreement_public, keys.asymmetric_public, created);
    const Bytes sealed_key =
        gcm_seal(key, seal_nonce, aad_asymmetric.data(), aad_asymmetric.size(),
                 keys.asymmetric_private.data(), keys.asymmetric_private.size());
    Bytes sealed(seal_nonce, seal_nonce + kGcmNonceSize);
    sealed.insert(sealed.end(), sealed_key.begin(), sealed_key.end());

    using namespace der;
    const auto* time_bytes = reinterpret_cast<const std::uint8_t*>(created.data());
    return sequence({
        integer(kVersion),
        sequence({oid(kOidX25519), oid(kOidX25519), oid(kOidAes256Cbc), oid(kOidSha256)}),
        sequence({oid(kOidPbkdf2), integer(keys.iterations), integer(kGcmKeySize),
                  sequence({oid(kOidHmacSha256)})}),
        sequence({
            integer(kVersion),
            sequence({oid(kOidX25519), integer(kUsageAgreement)}),
            integer(kKeyIdAgreement),
            sequence({integer(kGcmTagSize), oid(kOidAes256Gcm), integer(kGcmNonceSize),
                      octet_string(wrap_nonce, sizeof wrap_nonce), integer(kKeyBits)}),
            sequence(
                {oid(kOidX25519), integer(kKeyBits), integer(kUsageAgreement), oid(kOidSha256)}),
            integer(wrapped.size()),
            octet_string(wrapped.data(), wrapped.size()),
            octet_string(keys.agreement_public.data(), keys.agreement_public.size()),
        }),
        sequence({
            integer(kVersion),
            sequence({oid(kOidX25519), integer(kUsageAsymmetric)}),
            integer(kKeyIdAsymmetric),
            octet_string(sealed.data(), sealed.size()),
            sequence({integer(kKeyBits), oid(kOidX25519)}),
        }),
        sequence(
            {integer(kVersion), sequence({element(kGeneralizedTime, time_bytes, created.size())})}),
        octet_string(keys.asymmetric_public.data(), keys.asymmetric_public.size()),
        octet_string(salt, sizeof salt),
    });
}

ContainerKeys open_key_container(const std::uint8_t* data, std::size_t size,
                                 const std::wstring& password, const char* method) {
    if (data == nullptr && size != 0) {
        throw InvalidArgumentException("data", method, "is null");
    }
    der::Reader outer(data, data + size, method);
    der::Reader top = outer.enter(der::kSequence);
    outer.expect_end();

    top.expect_integer(kVersion);
    {
        der::Reader algorithms = top.enter(der::kSequence);
        algorithms.expect_oid(kOidX25519);
        algorithms.expect_oid(kOidX25519);
        algorithms.expect_oid(kOidAes256Cbc);
        algorithms.expect_oid(kOidSha256);
        algorithms.expect_end();
    }
    ContainerKeys keys;
    {
        der::Reader protection = top.enter(der::kSequence);
        protection.expect_oid(kOidPbkdf2);
        const std::uint64_t iterations = protection.integer();
        if (iterations < kMinIterations || iterations > kMaxIterations) {
            fail(method, Exception::malformed_data, "iteration count out of range");
        }
        keys.iterations = static_cast<std::uint32_t>(iterations);
        protection.expect_integer(kGcmKeySize);
        der::Reader prf = protection.enter(der::kSequence);
        prf.expect_oid(kOidHmacSha256);
        prf.expect_end();
        protection.expect_end();
    }
    Bytes wrap_nonce;
    Bytes wrapped;
    {
        der::Reader agreement = enter_key_entry(top, kUsageAgreement, kKeyIdAgreement);
        der::Reader wrap = agreement.enter(der::kSequence);
        wrap.expect_integer(kGcmTagSize);
        wrap.expect_oid(kOidAes256Gcm);
        wrap.expect_integer(kGcmNonceSize);
        wrap_nonce = wrap.octets(kGcmNonceSize);
        wrap.expect_integer(kKeyBits);
        wrap.expect_end();
        der::Reader info = agreement.enter(der::kSequence);
        info.expect_oid(kOidX25519);
        info.expect_integer(kKeyBits);
        info.expect_integer(kUsageAgreement);
        info.expect_oid(kOidSha256);
        info.expect_end();
        agreement.expect_integer(kX25519Size + kGcmTagSize);
        wrapped = agreement.octets(kX25519Size + kGcmTagSize);
        const Bytes pub = agreement.octets(kX25519Size);
        std::memcpy(keys.agreement_public.data(), pub.data(), kX25519Size);
        agreement.expect_end();
    }
    Bytes sealed;
    {
        der::Reader asymmetric = enter_key_entry(top, kUsageAsymmetric, kKeyIdAsymmetric);
        sealed = asymmetric.octets(kGcmNonceSize + kX25519Size + kGcmTagSize);
        der::Reader info = asymmetric.enter(der::kSequence);
        info.expect_integer(kKeyBits);
        info.expect_oid(kOidX25519);
        info.expect_end();
        asymmetric.expect_end();
    }
    std::string created;
    {
        der::Reader when = top.enter(der::kSequence);
        when.expect_integer(kVersion);
        der::Reader validity = when.enter(der::kSequence);
        const Bytes text = validity.content(der::kGeneralizedTime);
        validity.expect_end();
        when.expect_end();
        created.assign(text.begin(), text.end());
        const auto t = parse_generalized_time(created);
        if (!t) {
            fail(method, Exception::malformed_data, "invalid creation time");
        }
        keys.created = *t;
    }
    {
        const Bytes pub = top.octets(kX25519Size);
        std::memcpy(keys.asymmetric_public.data(), pub.data(), kX25519Size);
    }
    const Bytes salt = top.octets(kSaltSize);
    top.expect_end();

    const Secret key = protection_key(password, salt.data(), keys.iterations, method);
    const Bytes aad_agreement =
        additional_data(kUsageAgreement, keys.agreement_public, keys.asymmetric_public, created);
    keys.agreement_private = gcm_open(key, wrap_nonce.data(), aad_agreement.data(),
                                      aad_agreement.size(), wrapped.data(), wrapped.size(), method);
    const Bytes aad_asymmetric =
        additional_data(kUsageAsymmetric, keys.agreement_public, keys.asymmetric_public, created);
    keys.asymmetric_private =
        gcm_open(key, sealed.data(), aad_asymmetric.data(), aad_asymmetric.size(),
                 sealed.data() + kGcmNonceSize, sealed.size() - kGcmNonceSize, method);
    // The seals already vouch for the pairs; a container made with mismatched halves by
    // someone who knew the password is refused all the same.
    if (x25519_public(keys.agreement_private) != keys.agreement_public ||
        x25519_public(keys.asymmetric_private) != keys.asymmetric_public) {
        fail(method, Exception::malformed_data, "public keys do not match the private keys");
    }
    return keys;
}

}  // namespace ztcrypto_detail
