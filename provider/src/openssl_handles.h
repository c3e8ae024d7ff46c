#pragma once

#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

namespace ztcrypto_detail {

// One owner per OpenSSL object kind, each freed with the library's own function.
struct EvpPkeyFree {
    void operator()(EVP_PKEY* p) const noexcept { EVP_PKEY_free(p); }
};
struct EvpPkeyCtxFree {
    void operator()(EVP_PKEY_CTX* p) const noexcept { EVP_PKEY_CTX_free(p); }
};
struct EvpCipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const noexcept { EVP_CIPHER_CTX_free(p); }
};
struct EvpCipherFree {
    void operator()(EVP_CIPHER* p) const noexcept { EVP_CIPHER_free(p); }
};
struct EvpMdFree {
    void operator()(EVP_MD* p) const noexcept { EVP_MD_free(p); }
};
struct EvpKdfFree {
    void operator()(EVP_KDF* p) const noexcept { EVP_KDF_free(p); }
};
struct EvpKdfCtxFree {
    void operator()(EVP_KDF_CTX* p) const noexcept { EVP_KDF_CTX_free(p); }
};
struct EvpRandFree {
    void operator()(EVP_RAND* p) const noexcept { EVP_RAND_free(p); }
};
struct EvpRandCtxFree {
    void operator()(EVP_RAND_CTX* p) const noexcept { EVP_RAND_CTX_free(p); }
};

using PkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyCtxFree>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, EvpCipherCtxFree>;
using CipherPtr = std::unique_ptr<EVP_CIPHER, EvpCipherFree>;
using MdPtr = std::unique_ptr<EVP_MD, EvpMdFree>;
using KdfPtr = std::unique_ptr<EVP_KDF, EvpKdfFree>;
using KdfCtxPtr = std::unique_ptr<EVP_KDF_CTX, EvpKdfCtxFree>;
using RandPtr = std::unique_ptr<EVP_RAND, EvpRandFree>;
using RandCtxPtr = std::unique_ptr<EVP_RAND_CTX, EvpRandCtxFree>;

}  // namespace ztcrypto_detail
