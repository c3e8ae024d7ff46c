#pragma once

// How long a stress test runs and from which seed: a short run by default, ten times the
// work with ZT_LONG_TESTS=1; ZT_STRESS_SEED=<n> repeats the run a failure printed.

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace zt_testing {

inline bool long_run() {
    const char* v = std::getenv("ZT_LONG_TESTS");
    return v != nullptr && std::string(v) == "1";
}

// The seed of this run: ZT_STRESS_SEED when set, else a fresh one.
inline std::uint64_t run_seed() {
    if (const char* v = std::getenv("ZT_STRESS_SEED")) {
        return std::stoull(v);
    }
    return std::random_device{}() | (std::uint64_t{std::random_device{}()} << 32);
}

}  // namespace zt_testing
