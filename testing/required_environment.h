#pragma once

// Tests that need root, namespaces or a system program skip where those are missing, so a
// developer's unprivileged run still works. Where the run must be complete (the environment
// variable ZT_REQUIRE_ALL_TESTS is set, as the test script sets it under CI=true), such a
// skip fails instead: a run that could not test something must not look green.

#include <gtest/gtest.h>

#include <cstdlib>

namespace zt_testing {

inline bool all_tests_required() {
    const char* value = std::getenv("ZT_REQUIRE_ALL_TESTS");
    return value != nullptr && *value != '\0' && *value != '0';
}

}  // namespace zt_testing

// Skips the running test with the reason, or fails it when every test is required. Leaves
// the test body, as GTEST_SKIP does.
#define ZT_SKIP_UNLESS_REQUIRED(reason)                                                            \
    do {                                                                                           \
        if (::zt_testing::all_tests_required()) {                                                  \
            GTEST_FAIL() << "this run requires every test, but this one cannot run: " << (reason); \
        }                                                                                          \
        GTEST_SKIP() << (reason);                                                                  \
    } while (false)
