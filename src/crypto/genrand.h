#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"

namespace misc {

// Attempts with 64-byte candidates, then with 512-byte candidates.
constexpr std::size_t kShortRounds = 512;
constexpr std::size_t kShortDraw = 64;
constexpr std::size_t kLongRounds = 4096;
constexpr std::size_t kLongDraw = 512;

// The three steps of one attempt: draw candidate bytes, hash them, check the digest.
struct random_vector_steps {
    std::function<std::vector<std::uint8_t>(std::size_t)> draw;
    std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&, std::error_code&)>
        hash;
    std::function<bool(const std::vector<std::uint8_t>&, std::error_code&)> check;
};

// Returns the first digest of a locally drawn candidate that passes the provider's sequence
// checker, trying at most kShortRounds + kLongRounds candidates. Empty on failure: ec holds
// the checker's or hasher's initialization error, or "Initialize sequence failed random
// check" when no candidate passed.
std::vector<std::uint8_t> get_random_vector(const crypto_factory& f, std::error_code& ec);

// The same rounds over given steps.
std::vector<std::uint8_t> get_random_vector(const random_vector_steps& steps, std::error_code& ec);

}  // namespace misc
