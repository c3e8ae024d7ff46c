#include "crypto/checker.h"

#include <string>

#include "crypto/crypto_error.h"

bool RandomChecker::initialize(const crypto_factory& f, std::error_code& ec) {
    if (!f.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    try {
        m_checker = f.self()->create_sequence_checker(L"nist");
    } catch (...) {
        ec = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
    ec.clear();
    return true;
}

bool RandomChecker::initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec) {
    crypto_factory own;
    if (!own.initialize(seed)) {
        ec = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
    return initialize(own, ec);
}

bool RandomChecker::check(const std::vector<std::uint8_t>& sequence, std::error_code& ec) {
    if (!m_checker) {
        ec = crypto_error::not_initialized;
        return false;
    }
    if (sequence.empty()) {
        ec = crypto_error::empty_sequence;
        return false;
    }
    try {
        m_checker->load(sequence);
        const bool passed = m_checker->test(0);
        ec.clear();
        return passed;
    } catch (...) {
        ec = crypto_error::internal_error;
        return false;
    }
}
