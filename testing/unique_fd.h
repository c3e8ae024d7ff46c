#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace zt_testing {

// Owns one file descriptor and closes it on destruction or reset.
class unique_fd {
  public:
    explicit unique_fd(int fd = -1) noexcept : m_fd(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    int get() const noexcept { return m_fd; }
    // Closes the descriptor held so far and takes fd instead.
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0 && m_fd != fd) {
            close(m_fd);
        }
        m_fd = fd;
    }

  private:
    int m_fd;
};

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
