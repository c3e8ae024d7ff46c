#include "handlers/keystore_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

// The same refusal without openat2 (kernels before 5.6, seccomp filters that do not know
// it, valgrind): one component at a time, none followed when it is a link (ELOOP).
int open_walking(int directory, const char* path, int flags) {
    std::string rest(path);
    os::unique_fd at(rest.starts_with('/') ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                           : ::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    while (at) {
        const auto slash = rest.find('/');
        const std::string part = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        if (part.empty() || part == ".") {
            if (rest.empty()) {
                return ::openat(at.get(), ".", flags | O_CLOEXEC);
            }
            continue;
        }
        const int part_flags = rest.empty() ? flags : O_PATH | O_DIRECTORY;
        os::unique_fd next(::openat(at.get(), part.c_str(), part_flags | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!next && errno == ENOTDIR &&
            ::fstatat(at.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            errno = ELOOP;  // a link where a directory was wanted, as openat2 reports it
        }
        if (rest.empty()) {
            return next.release();
        }
        at = std::move(next);
    }
    return -1;
}

// openat2 with every component resolved without following links (a link anywhere, the
// last component included, gives ELOOP).
int open_no_links(int directory, const char* path, int flags) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const int fd = static_cast<int>(::syscall(SYS_openat2, directory, path, &how, sizeof how));
    return fd < 0 && errno == ENOSYS ? open_walking(directory, path, flags) : fd;
}

}  // namespace

bool keystore_file::read(const std::string& path, std::vector<unsigned char>& data,
                         std::error_code& ec) {
    const auto slash = path.find_last_of('/');
    // A NUL would end the path the kernel sees before the one that was checked.
    if (path.empty() || path.front() != '/' || slash == path.size() - 1 ||
        path.find('\0') != std::string::npos) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    const std::string directory = slash == 0 ? "/" : path.substr(0, slash);
    os::unique_fd dir(open_no_links(AT_FDCWD, directory.c_str(), O_PATH | O_DIRECTORY));
    if (!dir) {
        ec = last_error();
        return false;
    }
    std::string name = path.substr(slash + 1);
    os::unique_fd file(open_no_links(dir.get(), name.c_str(), O_RDONLY | O_NONBLOCK));
    if (!file) {
        ec = last_error();
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        ec = last_error();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > max_size) {
        ec = std::make_error_code(std::errc::file_too_large);
        return false;
    }
    std::vector<unsigned char> content;
    unsigned char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ec = last_error();
            return false;
        }
        if (n == 0) {
            break;
        }
        if (content.size() + static_cast<std::size_t>(n) > max_size) {
            ec = std::make_error_code(std::errc::file_too_large);
            return false;
        }
        content.insert(content.end(), buffer, buffer + n);
    }
    m_directory = std::move(dir);
    m_name = std::move(name);
    m_device = st.st_dev;
    m_inode = st.st_ino;
    data = std::move(content);
    ec.clear();
    return true;
}

bool keystore_file::remove() noexcept {
    if (!m_directory) {
        return false;
    }
    struct stat st {};
    if (::fstatat(m_directory.get(), m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_dev != m_device || st.st_ino != m_inode || !S_ISREG(st.st_mode)) {
        return false;
    }
    return ::unlinkat(m_directory.get(), m_name.c_str(), 0) == 0;
}
