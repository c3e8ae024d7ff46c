#include "foundation/defer.h"

#include <gtest/gtest.h>

namespace {

TEST(Defer, RunsOnceWhenLeavingScope) {
    int calls = 0;
    {
        auto guard = foundation::make_deferred([&] { ++calls; });
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(calls, 1);
}

TEST(Defer, MovedGuardRunsOnlyOnce) {
    int calls = 0;
    {
        auto first = foundation::make_deferred([&] { ++calls; });
        auto second = std::move(first);
    }
    EXPECT_EQ(calls, 1);
}

TEST(Defer, DismissedGuardDoesNotRun) {
    int calls = 0;
    {
        auto guard = foundation::make_deferred([&] { ++calls; });
        guard.dismiss();
    }
    EXPECT_EQ(calls, 0);
}

TEST(Defer, RunsOnExceptionalExit) {
    int calls = 0;
    try {
        auto guard = foundation::make_deferred([&] { ++calls; });
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(calls, 1);
}

}  // namespace
