#include "system/staged_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace fio {

namespace {

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void sync_directory_of(const std::string& path) noexcept {
    os::unique_fd dir(::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());
    }
}

staged_file::~staged_file() {
    discard();
}

staged_file::staged_file(staged_file&& other) noexcept
    : m_target(std::move(other.m_target)),
      m_temporary(std::exchange(other.m_temporary, {})),
      m_fd(std::move(other.m_fd)) {}

staged_file& staged_file::operator=(staged_file&& other) noexcept {
    if (this != &other) {
        discard();
        m_target = std::move(other.m_target);
        m_temporary = std::exchange(other.m_temporary, {});
        m_fd = std::move(other.m_fd);
    }
    return *this;
}

void staged_file::discard() noexcept {
    m_fd.reset();
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

bool staged_file::create(const std::string& target, std::error_code& ec) {
    discard();
    // mkostemp creates the name exclusively with mode 0600, whatever the umask.
    std::string name = target + ".new-XXXXXX";
    errno = 0;
    os::unique_fd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd) {
        ec = last_error();
        return false;
    }
    m_target = target;
    m_temporary = std::move(name);
    m_fd = std::move(fd);
    return true;
}

bool staged_file::set_attributes(mode_t mode, uid_t uid, gid_t gid, std::error_code& ec) {
    if (!m_fd) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return false;
    }
    struct stat info {};
    if (::fstat(m_fd.get(), &info) != 0 ||
        ((info.st_uid != uid || info.st_gid != gid) && ::fchown(m_fd.get(), uid, gid) != 0) ||
        ::fchmod(m_fd.get(), mode) != 0) {
        ec = last_error();
        return false;
    }
    return true;
}

bool staged_file::write(const void* data, std::size_t size, std::error_code& ec) {
    if (!m_fd) {
        ec = std::make_error_code(std::errc::bad_file_descriptor);
        return false;
    }
    const auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        errno = 0;
        const ssize_t written = ::write(m_fd.get(), next, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ec = last_error();
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    // A late write error (quota, network file systems) shows only at fsync or close.
    errno = 0;
    if (::fsync(m_fd.get()) != 0 || !m_fd.close()) {
        ec = last_error();
        return false;
    }
    return true;
}

bool staged_file::commit(std::error_code& ec) {
    if (m_temporary.empty()) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    m_fd.reset();
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        ec = last_error();
        return false;
    }
    m_temporary.clear();
    sync_directory_of(m_target);
    return true;
}

void staged_file::release() noexcept {
    m_fd.reset();
    m_temporary.clear();
}

}  // namespace fio
