#include "crypto/randomizer.h"

#include <string>

#include "crypto/crypto_error.h"
#include "crypto/guarded_call.h"

bool Randomizer::initialize(const crypto_factory& f, std::error_code& ec) {
    if (!f.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    try {
        m_random = f.self()->create_random(std::wstring());
    } catch (...) {
        ec = crypto_error::internal_not_initialized;
        return false;
    }
    if (!m_random) {
        ec = crypto_error::internal_not_initialized;
        return false;
    }
    ec.clear();
    return true;
}

bool Randomizer::initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec) {
    crypto_factory own;
    if (!own.initialize(seed)) {
        ec = crypto_error::internal_not_initialized;
        return false;
    }
    return initialize(own, ec);
}

bool Randomizer::random(std::uint8_t* buffer, std::size_t n, std::error_code& ec) {
    if (buffer == nullptr) {
        ec.clear();
        return false;
    }
    if (!m_random) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::generate_random_error,
                                [&] { m_random->generate(buffer, n); });
}
