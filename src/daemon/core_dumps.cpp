#include "daemon/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

bool forbid_core_dumps() noexcept {
    const bool undumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
    const rlimit none{0, 0};
    const bool no_core = ::setrlimit(RLIMIT_CORE, &none) == 0;
    return undumpable && no_core;
}
