#pragma once

#include <cstdint>
#include <vector>

#include "ztcrypto/sequence_checker.h"

namespace ztcrypto_detail {

// The "nist" checker: frequency, block frequency, runs, longest run of ones in a block and
// both cumulative sums over the loaded bits; passes when every p-value is at least 0.01.
// Sequences shorter than 128 bits fail.
class NistChecker final : public SequenceCheckerBase {
  public:
    static constexpr double kAlpha = 0.01;
    static constexpr std::size_t kMinBits = 128;

    bool test(int mode) override;
    void load(const std::vector<std::uint8_t>& bytes) override;

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace ztcrypto_detail
