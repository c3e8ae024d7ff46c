#pragma once

// What a benchmark that attaches and mounts must leave as it found it: the host's loop
// devices and its mount table.

#include <string>

namespace bench_host {

struct host_state {
    std::string loops;   // what "losetup -a" lists
    std::string mounts;  // /proc/self/mounts of this process (the host's namespace)

    // The state now.
    static host_state now();
    // Empty when other is the same state; otherwise what differs, line by line.
    std::string difference(const host_state& other) const;
};

}  // namespace bench_host
