#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/random.h"

// Draws random bytes from the provider's default generator (the database's IVs).
class Randomizer {
  public:
    // Creates the generator from f. f not initialized: "Factory not initialized"; the
    // provider cannot give one: "Internal structure not initialized".
    bool initialize(const crypto_factory& f, std::error_code& ec);
    // As above, from a provider factory of its own seeded with the bytes.
    bool initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec);
    bool is_initialized() const noexcept { return m_random != nullptr; }

    // Fills n bytes at buffer. A null buffer is false with ec clear; not initialized:
    // "Crypto object not initialized"; a provider failure: "Generate random generator error".
    bool random(std::uint8_t* buffer, std::size_t n, std::error_code& ec);

    // A shared handle on the generator (null before initialize).
    std::shared_ptr<RandomBase> self() const noexcept { return m_random; }

  private:
    std::shared_ptr<RandomBase> m_random;
};
