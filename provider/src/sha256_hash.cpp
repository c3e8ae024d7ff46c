#include "sha256_hash.h"

#include "failure.h"

namespace ztcrypto_detail {

void Sha256Hash::initialize() {
    guarded("Hash::initialize", [&] {
        MdPtr md(EVP_MD_fetch(nullptr, "SHA256", nullptr));
        if (!md) {
            throw_openssl("Hash::initialize", "SHA-256 is not available");
        }
        md_ = std::move(md);
    });
}

void Sha256Hash::digest(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    static const char* const method = "Hash::digest";
    guarded(method, [&] {
        if (!md_) {
            fail(method, Exception::not_initialized, "the hash is not initialized");
        }
        if (out == nullptr) {
            throw InvalidArgumentException("out", method, "is null");
        }
        if (in == nullptr && n != 0) {
            throw InvalidArgumentException("in", method, "is null");
        }
        static const std::uint8_t empty = 0;
        unsigned int len = 0;
        if (EVP_Digest(in == nullptr ? &empty : in, n, out, &len, md_.get(), nullptr) != 1 ||
            len != size()) {
            throw_openssl(method, "digest failed");
        }
    });
}

}  // namespace ztcrypto_detail
