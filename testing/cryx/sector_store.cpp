#include "testing/cryx/sector_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zt_cryx {

namespace {

bool read_all(int fd, unsigned char* out, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pread(fd, out, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        out += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool write_all(int fd, const unsigned char* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

ssize_t sector_store::read(std::uint64_t offset, std::size_t length, const unsigned char** out) {
    if (offset >= m_size) {
        *out = nullptr;
        return 0;
    }
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size - offset));
    const std::uint64_t first = offset / sector_size;
    const std::uint64_t end = (offset + length + sector_size - 1) / sector_size;
    const std::size_t span = static_cast<std::size_t>(end - first) * sector_size;
    m_buffer.resize(span);
    std::error_code ec;
    if (!read_all(m_fd, m_buffer.data(), span, first * sector_size)) {
        return -errno;
    }
    if (!m_cipher.decrypt(first, m_buffer, ec)) {
        return -EIO;
    }
    *out = m_buffer.data() + (offset - first * sector_size);
    return static_cast<ssize_t>(length);
}

ssize_t sector_store::write(std::uint64_t offset, const unsigned char* data, std::size_t length) {
    if (length == 0) {
        return 0;
    }
    if (offset >= m_size) {
        return -ENOSPC;
    }
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_size - offset));
    const std::uint64_t first = offset / sector_size;
    const std::uint64_t end = (offset + length + sector_size - 1) / sector_size;
    const std::size_t span = static_cast<std::size_t>(end - first) * sector_size;
    m_buffer.resize(span);
    std::error_code ec;
    // Sectors only partly written keep the rest of their plaintext.
    const bool partial_head = offset % sector_size != 0;
    const bool partial_tail = (offset + length) % sector_size != 0;
    if (partial_head) {
        if (!read_all(m_fd, m_buffer.data(), sector_size, first * sector_size) ||
            !m_cipher.decrypt(first, std::span(m_buffer.data(), sector_size), ec)) {
            return ec ? -EIO : -errno;
        }
    }
    if (partial_tail && (end - 1 != first || !partial_head)) {
        unsigned char* last = m_buffer.data() + span - sector_size;
        if (!read_all(m_fd, last, sector_size, (end - 1) * sector_size) ||
            !m_cipher.decrypt(end - 1, std::span(last, sector_size), ec)) {
            return ec ? -EIO : -errno;
        }
    }
    unsigned char* at = m_buffer.data() + (offset - first * sector_size);
    data != nullptr ? (void)std::memcpy(at, data, length) : (void)std::memset(at, 0, length);
    if (!m_cipher.encrypt(first, m_buffer, ec)) {
        return -EIO;
    }
    if (!write_all(m_fd, m_buffer.data(), span, first * sector_size)) {
        return -errno;
    }
    return static_cast<ssize_t>(length);
}

}  // namespace zt_cryx
