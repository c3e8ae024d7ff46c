#pragma once

#include <unistd.h>

#include <utility>

namespace os {

// Owns one file descriptor (or none, -1) and closes it on destruction or reset.
class unique_fd {
  public:
    explicit unique_fd(int fd = -1) noexcept : m_fd(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    unique_fd& operator=(unique_fd&& other) noexcept {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const noexcept { return m_fd; }
    // Gives the descriptor up to the caller, who closes it.
    int release() noexcept { return std::exchange(m_fd, -1); }
    explicit operator bool() const noexcept { return m_fd >= 0; }

    // Closes the descriptor held so far and takes fd instead.
    void reset(int fd = -1) noexcept {
        if (m_fd >= 0 && m_fd != fd) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

    // Closes now and reports whether close succeeded (a late write error shows here).
    bool close() noexcept { return ::close(std::exchange(m_fd, -1)) == 0; }

  private:
    int m_fd;
};

}  // namespace os
