#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace sys {

// The calls by which the device handles reach the kernel: opening a node, issuing a request
// on it and pausing between retries. The handles take them as a parameter defaulting to the
// real ones, so that a test can make the kernel answer as it needs without a real device.
struct kernel_calls {
    // open(2) without a mode: a descriptor, or -1 with errno set.
    std::function<int(const char* path, int flags)> open;
    // ioctl(2) with one argument (an address or a plain number): its result, errno set on
    // failure.
    std::function<int(int fd, unsigned long request, std::uintptr_t arg)> request;
    // Blocks the calling thread for the given time.
    std::function<void(std::chrono::milliseconds)> pause;

    // The real system calls and sleep.
    static const kernel_calls& real();
};

}  // namespace sys
