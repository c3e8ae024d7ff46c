#pragma once

#include <cstdint>
#include <memory>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/sequence_checker.h"

// Runs the provider's statistical sequence checker ("nist") over candidate random bytes.
class RandomChecker {
  public:
    // Creates the "nist" checker from f. f not initialized: "Factory not initialized"; a
    // provider failure: ENOMEM.
    bool initialize(const crypto_factory& f, std::error_code& ec);
    // As above, from a provider factory of its own seeded with the bytes.
    bool initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec);
    bool is_initialized() const noexcept { return m_checker != nullptr; }

    // True when the bytes pass the checker. A failed test is false with ec clear; not
    // initialized: "Crypto object not initialized"; empty input: "Sequence is empty"; a
    // provider failure: "Internal error".
    bool check(const std::vector<std::uint8_t>& sequence, std::error_code& ec);

  private:
    std::shared_ptr<SequenceCheckerBase> m_checker;
};
