#pragma once

// What a test or benchmark reads of the host and of the processes it runs: the host's loop
// devices and mount table (which a run must leave as it found them) and a process's memory.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace zt_testing {

// The host's attached loop devices, as "losetup -a" lists them (empty when it cannot run).
std::string attached_loops();

// The resident set of pid in bytes (VmRSS of /proc/<pid>/status); 0 when unreadable.
std::uint64_t resident_bytes(pid_t pid);

// The loop devices and mounts of the host, to compare before and after a run.
struct host_state {
    std::string loops;   // what "losetup -a" lists
    std::string mounts;  // /proc/self/mounts of this process (the host's namespace)

    // The state now.
    static host_state now();
    // Empty when other is the same state; otherwise what differs, line by line.
    std::string difference(const host_state& other) const;
};

}  // namespace zt_testing
