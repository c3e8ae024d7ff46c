#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ztcrypto/export.h"

// A statistical test of a bit sequence (the bits of the loaded bytes, most significant
// bit of each byte first).
class ZTCRYPTO_API SequenceCheckerBase {
  public:
    SequenceCheckerBase() = default;
    SequenceCheckerBase(const SequenceCheckerBase&) = delete;
    SequenceCheckerBase& operator=(const SequenceCheckerBase&) = delete;
    virtual ~SequenceCheckerBase();

    // Runs the test over the loaded sequence; true when it passes. `mode` must be 0.
    // A sequence that is too short (or none loaded) fails. Throws on a non-zero mode.
    virtual bool test(int mode) = 0;
    // Replaces the sequence to test with a copy of `bytes`.
    virtual void load(const std::vector<std::uint8_t>& bytes) = 0;
};
