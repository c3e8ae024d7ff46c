#pragma once

// Code run as an unprivileged account of a sandbox, as a local user would run it: a forked
// child in the sandbox's mount namespace with the account's uid and gid and no
// supplementary groups.

#include <sys/types.h>

#include <chrono>
#include <functional>

#include "testing/sandbox.h"

namespace zt_testing {

// Runs body in a child inside box as uid (gid the same), its return value the child's exit
// code, calling serve() here meanwhile (to answer or drain what the child's calls cause).
// The exit code; 100 when the child could not become the account, 101 when body threw, -1
// when the child was killed by a signal or did not end within timeout (it is killed then).
int run_as(const sandbox& box, uid_t uid, const std::function<int()>& body,
           const std::function<void()>& serve = {},
           std::chrono::milliseconds timeout = std::chrono::minutes(30));

}  // namespace zt_testing
