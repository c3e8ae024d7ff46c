#pragma once

#include <sys/types.h>

#include <string>

#include "system/unique_fd.h"

// The pid file of the running daemon, held under an exclusive lock for as long as the
// object holds it, so that a second instance can tell that the file is not its own.
class pid_file {
  public:
    pid_file() = default;
    // Removes the file if it is held.
    ~pid_file() { remove(); }
    pid_file(const pid_file&) = delete;
    pid_file& operator=(const pid_file&) = delete;

    // Opens or creates path (mode 0644, never through a link), takes the lock and writes
    // the decimal pid and a newline. When the lock is taken by another process, or path is
    // no regular file, returns false and leaves path exactly as it was.
    bool acquire(const std::string& path, pid_t pid);

    // Deletes the file and gives up the lock; does nothing unless acquire succeeded.
    void remove() noexcept;

    bool held() const noexcept { return static_cast<bool>(m_fd); }

  private:
    std::string m_path;
    os::unique_fd m_fd;
};
