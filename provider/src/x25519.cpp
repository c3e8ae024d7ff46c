#include "x25519.h"

#include <openssl/err.h>

#include "failure.h"
#include "openssl_handles.h"

namespace ztcrypto_detail {

namespace {

PkeyPtr private_pkey(const Secret& private_key, const char* method) {
    if (private_key.size() != kX25519Size) {
        fail(method, Exception::not_initialized, "no X25519 private key");
    }
    PkeyPtr key(EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, private_key.data(),
                                             private_key.size()));
    if (!key) {
        throw_openssl(method, "cannot load the X25519 private key");
    }
    return key;
}

}  // namespace

Secret x25519_generate(Drbg& drbg) {
    Secret key(kX25519Size);
    drbg.generate(key.data(), key.size());
    return key;
}

PublicKey x25519_public(const Secret& private_key) {
    static const char* const method = "x25519_public";
    PkeyPtr key = private_pkey(private_key, method);
    PublicKey pub{};
    std::size_t len = pub.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), pub.data(), &len) != 1 || len != pub.size()) {
        throw_openssl(method, "cannot compute the X25519 public key");
    }
    return pub;
}

Secret x25519_shared(const Secret& private_key, const std::uint8_t* peer_public,
                     const char* method) {
    PkeyPtr key = private_pkey(private_key, method);
    PkeyPtr peer(EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peer_public, kX25519Size));
    if (!peer) {
        throw_openssl(method, "cannot load the peer's X25519 public key");
    }
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 ||
        EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1) {
        throw_openssl(method, "cannot set up the X25519 agreement");
    }
    Secret shared(kX25519Size);
    std::size_t len = shared.size();
    if (EVP_PKEY_derive(ctx.get(), shared.data(), &len) != 1 || len != kX25519Size) {
        shared.clear();
        ERR_clear_error();
        fail(method, Exception::invalid_argument, "degenerate X25519 public key");
    }
    return shared;
}

}  // namespace ztcrypto_detail
