#include "nist_checker.h"

#include "failure.h"
#include "nist_tests.h"

namespace ztcrypto_detail {

bool NistChecker::test(int mode) {
    return guarded("SequenceChecker::test", [&] {
        if (mode != 0) {
            throw InvalidArgumentException("mode", "SequenceChecker::test", "must be 0");
        }
        const nist::Bits bits = nist::to_bits(bytes_);
        if (bits.size() < kMinBits) {
            return false;
        }
        const double p_values[] = {
            nist::frequency(bits),
            nist::block_frequency(bits, nist::block_frequency_length(bits.size())),
            nist::runs(bits),
            nist::longest_run_of_ones(bits),
            nist::cumulative_sums(bits, false),
            nist::cumulative_sums(bits, true),
        };
        for (double p : p_values) {
            // A NaN from a degenerate input must fail as well, hence no `p < kAlpha`.
            if (!(p >= kAlpha)) {
                return false;
            }
        }
        return true;
    });
}

void NistChecker::load(const std::vector<std::uint8_t>& bytes) {
    guarded("SequenceChecker::load", [&] { bytes_ = bytes; });
}

}  // namespace ztcrypto_detail
