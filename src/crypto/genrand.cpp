#include "crypto/genrand.h"

#include <string.h>

#include "crypto/checker.h"
#include "crypto/crypto_error.h"
#include "crypto/hasher.h"
#include "crypto/sysrand.h"

namespace misc {

namespace {

// One attempt; the candidate is wiped, only its digest may leave.
bool attempt(const random_vector_steps& steps, std::size_t draw_size,
             std::vector<std::uint8_t>& digest) {
    std::vector<std::uint8_t> candidate = steps.draw(draw_size);
    std::error_code ec;
    digest = steps.hash(candidate, ec);
    if (!candidate.empty()) {
        explicit_bzero(candidate.data(), candidate.size());
    }
    return !digest.empty() && steps.check(digest, ec);
}

}  // namespace

std::vector<std::uint8_t> get_random_vector(const random_vector_steps& steps, std::error_code& ec) {
    std::vector<std::uint8_t> digest;
    for (std::size_t round = 0; round < kShortRounds; ++round) {
        if (attempt(steps, kShortDraw, digest)) {
            ec.clear();
            return digest;
        }
    }
    for (std::size_t round = 0; round < kLongRounds; ++round) {
        if (attempt(steps, kLongDraw, digest)) {
            ec.clear();
            return digest;
        }
    }
    ec = crypto_error::random_check_failed;
    return {};
}

std::vector<std::uint8_t> get_random_vector(const crypto_factory& f, std::error_code& ec) {
    RandomChecker checker;
    Hasher hasher;
    if (!checker.initialize(f, ec) || !hasher.initialize(f, ec)) {
        return {};
    }
    const random_vector_steps steps{
        randgen::system,
        [&hasher](const std::vector<std::uint8_t>& bytes, std::error_code& e) {
            return hasher.hash(bytes, e);
        },
        [&checker](const std::vector<std::uint8_t>& bytes, std::error_code& e) {
            return checker.check(bytes, e);
        },
    };
    return get_random_vector(steps, ec);
}

}  // namespace misc
