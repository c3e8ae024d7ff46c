#include "secret.h"

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

namespace ztcrypto_detail {

Secret& Secret::operator=(const Secret& other) {
    if (this != &other) {
        Secret copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        wipe();
        bytes_ = std::move(other.bytes_);
        other.bytes_.clear();
    }
    return *this;
}

void Secret::clear() noexcept {
    wipe();
    bytes_.clear();
    bytes_.shrink_to_fit();
}

Secret Secret::concat(const std::uint8_t* a, std::size_t a_size, const std::uint8_t* b,
                      std::size_t b_size) {
    Secret joined(a_size + b_size);
    if (a_size != 0) {
        std::memcpy(joined.data(), a, a_size);
    }
    if (b_size != 0) {
        std::memcpy(joined.data() + a_size, b, b_size);
    }
    return joined;
}

void Secret::wipe() noexcept {
    if (!bytes_.empty()) {
        OPENSSL_cleanse(bytes_.data(), bytes_.size());
    }
}

}  // namespace ztcrypto_detail
