#include "daemon/core_dumps.h"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Exit codes of the child below.
enum : int { kDone = 0, kCallFailed = 1, kStillDumpable = 2, kCoreAllowed = 3 };

// Runs in a child, so that the test process keeps its own settings.
int forbid_and_check() {
    if (!forbid_core_dumps()) {
        return kCallFailed;
    }
    if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) {
        return kStillDumpable;
    }
    rlimit limit{};
    if (::getrlimit(RLIMIT_CORE, &limit) != 0 || limit.rlim_cur != 0 || limit.rlim_max != 0) {
        return kCoreAllowed;
    }
    return kDone;
}

TEST(CoreDumps, ProcessBecomesUndumpableWithBothCoreLimitsZero) {
    const int dumpable_before = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(forbid_and_check());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kDone);
    // The test process itself is untouched.
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), dumpable_before);
}

}  // namespace
