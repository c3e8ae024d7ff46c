#include "daemon/pid_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// A holder that removed the file between our open and our lock leaves us a locked file
// nobody can see; a new attempt opens the one that is there now.
constexpr int kAttempts = 3;

// True when path still names the file open at fd.
bool same_file(const std::string& path, int fd) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written =
            ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool pid_file::acquire(const std::string& path, pid_t pid) {
    remove();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // No O_TRUNC: until the lock is ours the content belongs to whoever holds it.
        // O_NONBLOCK keeps a FIFO planted at the path from blocking the start.
        os::unique_fd fd(
            ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
        if (!fd) {
            return false;
        }
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return false;  // another instance runs and owns the file
        }
        if (!same_file(path, fd.get())) {
            continue;
        }
        const std::string text = std::to_string(pid) + "\n";
        if (::ftruncate(fd.get(), 0) != 0 || !write_all(fd.get(), text)) {
            // A half-written file names no process; it is ours to remove.
            ::unlink(path.c_str());
            return false;
        }
        m_path = path;
        m_fd = std::move(fd);
        return true;
    }
    return false;
}

void pid_file::remove() noexcept {
    if (!m_fd) {
        return;
    }
    // Removed while still locked, so that no other instance can take this file over.
    if (same_file(m_path, m_fd.get())) {
        ::unlink(m_path.c_str());
    }
    m_fd.reset();
    m_path.clear();
}
