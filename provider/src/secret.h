#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ztcrypto_detail {

// A byte string that is wiped when it is released or overwritten. Its size is fixed at
// construction, so the storage never moves and leaves no unwiped copy behind.
class Secret {
  public:
    Secret() = default;
    // `size` zero bytes.
    explicit Secret(std::size_t size) : bytes_(size) {}
    // A copy of `size` bytes at `data`.
    Secret(const std::uint8_t* data, std::size_t size) : bytes_(data, data + size) {}
    Secret(const Secret& other) = default;
    Secret(Secret&& other) noexcept = default;
    Secret& operator=(const Secret& other);
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { wipe(); }

    std::uint8_t* data() noexcept { return bytes_.data(); }
    const std::uint8_t* data() const noexcept { return bytes_.data(); }
    std::size_t size() const noexcept { return bytes_.size(); }
    bool empty() const noexcept { return bytes_.empty(); }
    // Wipes and empties the secret.
    void clear() noexcept;
    // The concatenation of two byte strings as a new secret.
    static Secret concat(const std::uint8_t* a, std::size_t a_size, const std::uint8_t* b,
                         std::size_t b_size);

  private:
    void wipe() noexcept;

    std::vector<std::uint8_t> bytes_;
};

}  // namespace ztcrypto_detail
