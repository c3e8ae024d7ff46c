#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ztcrypto/export.h"

// A block of bytes crossing the provider interface: pointer, size and whether the block
// owns its memory. Move-only. Owned memory is wiped before it is freed, so blocks may
// carry secrets; a non-owning block is a view whose memory the caller keeps alive.
class ZTCRYPTO_API RawMemoryDefault {
  public:
    // An empty block (null pointer, size 0, not owning).
    RawMemoryDefault() noexcept = default;
    // An owned block of `size` zero bytes.
    explicit RawMemoryDefault(std::size_t size);
    // Wraps `size` bytes at `data`. With `owns` true the block takes the memory, which
    // must come from `new std::uint8_t[]`; otherwise it is a view.
    RawMemoryDefault(std::uint8_t* data, std::size_t size, bool owns) noexcept;
    RawMemoryDefault(RawMemoryDefault&& other) noexcept;
    RawMemoryDefault& operator=(RawMemoryDefault&& other) noexcept;
    RawMemoryDefault(const RawMemoryDefault&) = delete;
    RawMemoryDefault& operator=(const RawMemoryDefault&) = delete;
    // Wipes and frees owned memory.
    ~RawMemoryDefault();

    // A non-owning view of read-only bytes; the provider never writes through an input block.
    static RawMemoryDefault view(const std::uint8_t* data, std::size_t size) noexcept;
    // An owned copy of `size` bytes at `data` (which may be null only when size is 0).
    static RawMemoryDefault copy_of(const std::uint8_t* data, std::size_t size);

    std::uint8_t* data() noexcept { return data_; }
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    // True when the block frees (and wipes) its memory.
    bool owns() const noexcept { return owns_; }
    bool empty() const noexcept { return size_ == 0; }
    // A copy of the bytes (the caller is then responsible for wiping it if it is secret).
    std::vector<std::uint8_t> to_vector() const;

  private:
    void release() noexcept;

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool owns_ = false;
};
