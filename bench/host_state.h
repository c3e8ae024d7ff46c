#pragma once

// What a benchmark that attaches and mounts must leave as it found it: the host's loop
// devices and its mount table, compared as the tests compare them.

#include "testing/host_state.h"

namespace bench_host {

using zt_testing::host_state;

}  // namespace bench_host
