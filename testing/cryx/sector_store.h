#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "testing/cryx/sector_cipher.h"

namespace zt_cryx {

// The plaintext of a device whose sectors are stored encrypted on a descriptor: byte ranges
// of any offset and length, clipped to the device. Sectors written only in part keep the
// rest of their plaintext. Not shared between threads.
class sector_store {
  public:
    // fd is borrowed and must outlive the store; size is a multiple of 512.
    sector_store(int fd, std::uint64_t size, sector_cipher cipher)
        : m_fd(fd), m_size(size), m_cipher(std::move(cipher)) {}

    int fd() const noexcept { return m_fd; }
    std::uint64_t size() const noexcept { return m_size; }

    // Reads [offset, offset + length) as far as the device goes; the bytes ready at *out
    // (valid until the next call), or -errno.
    ssize_t read(std::uint64_t offset, std::size_t length, const unsigned char** out);
    // Writes data (zeros when null) at offset as far as the device goes; the bytes written,
    // -ENOSPC at or past the end, or -errno.
    ssize_t write(std::uint64_t offset, const unsigned char* data, std::size_t length);

  private:
    int m_fd;
    std::uint64_t m_size;
    sector_cipher m_cipher;
    std::vector<unsigned char> m_buffer;  // the sectors of one request
};

}  // namespace zt_cryx
