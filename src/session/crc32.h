#pragma once

#include <cstddef>
#include <cstdint>

// How far ahead of the bytes being summed the checksum asks the processor to load.
inline constexpr std::size_t kCrc32Prefetch = 256;

// Returns the standard CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320, as zlib computes
// it) of length bytes at data, continuing from previous (0 to start). prefetch is the
// read-ahead distance in bytes. Table-driven (slicing by 16), allocation-free; data may be
// null only when length is 0.
std::uint32_t crc32(const void* data, std::size_t length, std::uint32_t previous,
                    std::size_t prefetch) noexcept;
