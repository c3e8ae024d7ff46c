#include "system/kernel_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <thread>

namespace sys {

const kernel_calls& kernel_calls::real() {
    static const kernel_calls calls{
        .open = [](const char* path, int flags) { return ::open(path, flags); },
        .request = [](int fd, unsigned long request,
                      std::uintptr_t arg) { return ::ioctl(fd, request, arg); },
        .pause = [](std::chrono::milliseconds time) { std::this_thread::sleep_for(time); },
    };
    return calls;
}

}  // namespace sys
