#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "system/unique_fd.h"

namespace zt_testing {

using unique_fd = os::unique_fd;

struct pipe_ends {
    unique_fd read;
    unique_fd write;
};

// A new close-on-exec pipe; throws std::system_error when none can be made.
inline pipe_ends make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe");
    }
    return {unique_fd(fds[0]), unique_fd(fds[1])};
}

}  // namespace zt_testing
