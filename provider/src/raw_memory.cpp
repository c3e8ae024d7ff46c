#include "ztcrypto/raw_memory.h"

#include <openssl/crypto.h>

#include <cstring>
#include <utility>

#include "failure.h"

namespace {

// Owned memory, or the provider's Exception when there is none to be had.
std::uint8_t* allocate(std::size_t size) {
    if (size == 0) {
        return nullptr;
    }
    return ztcrypto_detail::guarded("RawMemoryDefault::RawMemoryDefault",
                                    [size] { return new std::uint8_t[size](); });
}

}  // namespace

RawMemoryDefault::RawMemoryDefault(std::size_t size)
    : data_(allocate(size)), size_(size), owns_(size != 0) {}

RawMemoryDefault::RawMemoryDefault(std::uint8_t* data, std::size_t size, bool owns) noexcept
    : data_(data), size_(data == nullptr ? 0 : size), owns_(owns && data != nullptr) {}

RawMemoryDefault::RawMemoryDefault(RawMemoryDefault&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      owns_(std::exchange(other.owns_, false)) {}

RawMemoryDefault& RawMemoryDefault::operator=(RawMemoryDefault&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        owns_ = std::exchange(other.owns_, false);
    }
    return *this;
}

RawMemoryDefault::~RawMemoryDefault() {
    release();
}

RawMemoryDefault RawMemoryDefault::view(const std::uint8_t* data, std::size_t size) noexcept {
    // The provider only reads through input blocks, so a view of read-only memory is safe.
    return RawMemoryDefault(const_cast<std::uint8_t*>(data), size, false);
}

RawMemoryDefault RawMemoryDefault::copy_of(const std::uint8_t* data, std::size_t size) {
    RawMemoryDefault block(size);
    if (size != 0) {
        std::memcpy(block.data_, data, size);
    }
    return block;
}

std::vector<std::uint8_t> RawMemoryDefault::to_vector() const {
    if (data_ == nullptr) {
        return {};
    }
    return std::vector<std::uint8_t>(data_, data_ + size_);
}

void RawMemoryDefault::release() noexcept {
    if (owns_ && data_ != nullptr) {
        OPENSSL_cleanse(data_, size_);
        delete[] data_;
    }
    data_ = nullptr;
    size_ = 0;
    owns_ = false;
}
