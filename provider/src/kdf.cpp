#include "kdf.h"

#include <openssl/core_names.h>
#include <openssl/params.h>

#include "failure.h"
#include "openssl_handles.h"

namespace ztcrypto_detail {

namespace {

// A non-null pointer for OpenSSL parameters of zero length.
const std::uint8_t kEmpty[1] = {0};

void* param_bytes(const std::uint8_t* p) {
    // OpenSSL's parameter constructors take non-const pointers but only read inputs.
    return const_cast<std::uint8_t*>(p == nullptr ? kEmpty : p);
}

Secret derive(const char* kdf_name, OSSL_PARAM* params, std::size_t length, const char* method) {
    KdfPtr kdf(EVP_KDF_fetch(nullptr, kdf_name, nullptr));
    if (!kdf) {
        throw_openssl(method, "the key derivation is not available");
    }
    KdfCtxPtr ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) {
        throw_openssl(method, "cannot create the key derivation");
    }
    Secret out(length);
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
        throw_openssl(method, "the key derivation failed");
    }
    return out;
}

}  // namespace

Secret hkdf_sha256(const std::uint8_t* ikm, std::size_t ikm_size, const std::uint8_t* salt,
                   std::size_t salt_size, const std::uint8_t* info, std::size_t info_size,
                   std::size_t length) {
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    std::size_t n = 0;
    params[n++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
    params[n++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, param_bytes(ikm), ikm_size);
    if (salt_size != 0) {
        params[n++] =
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, param_bytes(salt), salt_size);
    }
    if (info_size != 0) {
        params[n++] =
            OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, param_bytes(info), info_size);
    }
    params[n] = OSSL_PARAM_construct_end();
    return derive("HKDF", params, length, "hkdf_sha256");
}

Secret pbkdf2_sha256(const Secret& password, const std::uint8_t* salt, std::size_t salt_size,
                     std::uint32_t iterations, std::size_t length) {
    char digest[] = "SHA256";
    std::uint64_t iter = iterations;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, param_bytes(password.data()),
                                          password.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, param_bytes(salt), salt_size),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iter),
        OSSL_PARAM_construct_end(),
    };
    return derive("PBKDF2", params, length, "pbkdf2_sha256");
}

}  // namespace ztcrypto_detail
