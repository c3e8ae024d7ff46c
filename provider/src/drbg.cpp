#include "drbg.h"

#include <openssl/core_names.h>
#include <openssl/params.h>

#include <algorithm>

#include "failure.h"

namespace ztcrypto_detail {

namespace {

constexpr unsigned kStrength = 256;
// Requests are split below every DRBG's per-call limit.
constexpr std::size_t kChunk = 4096;

}  // namespace

std::shared_ptr<Drbg> Drbg::make_parent(const std::uint8_t* personalisation, std::size_t size) {
    return make(nullptr, nullptr, personalisation, size);
}

std::shared_ptr<Drbg> Drbg::make_child(const std::shared_ptr<Drbg>& parent) {
    return make(parent->ctx_.get(), parent, nullptr, 0);
}

std::shared_ptr<Drbg> Drbg::make(EVP_RAND_CTX* parent_ctx, const std::shared_ptr<Drbg>& parent,
                                 const std::uint8_t* personalisation, std::size_t size) {
    static const char* const method = "Drbg::make";
    RandPtr rand(EVP_RAND_fetch(nullptr, "CTR-DRBG", nullptr));
    if (!rand) {
        throw_openssl(method, "CTR-DRBG is not available");
    }
    auto drbg = std::make_shared<Drbg>();
    drbg->parent_ = parent;
    drbg->ctx_.reset(EVP_RAND_CTX_new(rand.get(), parent_ctx));
    if (!drbg->ctx_) {
        throw_openssl(method, "cannot create the generator");
    }
    char cipher[] = "AES-256-CTR";
    int use_df = 1;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_DRBG_PARAM_CIPHER, cipher, 0),
        OSSL_PARAM_construct_int(OSSL_DRBG_PARAM_USE_DF, &use_df),
        OSSL_PARAM_construct_end(),
    };
    if (EVP_RAND_instantiate(drbg->ctx_.get(), kStrength, 0, personalisation, size, params) != 1) {
        throw_openssl(method, "cannot instantiate the generator");
    }
    if (parent_ctx == nullptr && EVP_RAND_enable_locking(drbg->ctx_.get()) != 1) {
        throw_openssl(method, "cannot enable locking of the generator");
    }
    return drbg;
}

void Drbg::generate(std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        const std::size_t step = std::min(n, kChunk);
        if (EVP_RAND_generate(ctx_.get(), out, step, kStrength, 0, nullptr, 0) != 1) {
            throw_openssl("Drbg::generate", "the generator failed");
        }
        out += step;
        n -= step;
    }
}

}  // namespace ztcrypto_detail
