#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "system/cryx_error.h"
#include "system/kernel_calls.h"

// The record of the driver's add request, packed, integers in host byte order. The driver
// leaves the number of the created device in number.
#pragma pack(push, 1)
struct cryx_add_request {
    std::int32_t number;        // -1 lets the driver choose
    char managed_device[4096];  // at most the first 64 characters of the path
    std::uint8_t keys_flag;     // 1 when the keys (and mode) below are given
    std::int32_t mode;
    std::uint8_t second_key[32];
    std::uint8_t first_key[32];
};
#pragma pack(pop)
static_assert(sizeof(cryx_add_request) == 4169);

// The handle of one encrypted device of the "cryx" driver over a managed block device (a
// loop device). It owns copies of the keys and wipes them when it is destroyed or its device
// is removed; it does not own the device, which stays in place when the handle goes. A
// disk's devices are released driver device first, loop device second: the driver device
// holds the loop device open.
class cryx_device {
  public:
    using bytes = std::vector<unsigned char>;
    static constexpr std::size_t key_size = 32;
    // The longest prefix of the managed path that the add request carries.
    static constexpr std::size_t managed_device_limit = 64;

    // No number, mode 2, no path and no keys.
    cryx_device() noexcept;
    ~cryx_device() { erase(); }
    // The source is left without number, path and keys.
    cryx_device(cryx_device&& other) noexcept;
    cryx_device& operator=(cryx_device&& other) noexcept;
    cryx_device(const cryx_device&) = delete;
    cryx_device& operator=(const cryx_device&) = delete;

    // The driver device number, -1 for none.
    std::int32_t get_number() const noexcept { return m_number; }
    // "/dev/cryx" followed by the number, or an empty string without one.
    std::string get_device_name() const;
    // Takes the number from a node name that get_device_name() produced. False, changing
    // nothing, when the handle already has a number or the name carries none.
    bool set_device_name(std::string_view name);
    // The block device to encrypt.
    void set_managed_device(std::string path) { m_managed_device = std::move(path); }
    // Copies both keys when each is exactly 32 bytes; otherwise stores nothing and returns
    // false. Callers refuse the request then, before the driver step: an add without keys is
    // refused by the driver.
    bool set_keys(const bytes& first, const bytes& second);

    // Asks the driver for the device over the managed device; a handle without a number
    // takes the one the driver chose. managed_device_not_set without a path, errno (generic)
    // when the control node fails. The keys stay in the handle either way.
    bool add(std::error_code& ec, const sys::kernel_calls& calls = sys::kernel_calls::real());
    // Asks the driver to remove the device; on success the handle loses number, path and
    // keys. device_name_not_set without a number (the control node is not opened), errno
    // (generic) when the control node fails.
    bool remove(std::error_code& ec, const sys::kernel_calls& calls = sys::kernel_calls::real());
    // Overwrites the keys with zeros and forgets them.
    void erase() noexcept;

    // Fills request (zeroed first) for an add of this handle. The record holds the keys: the
    // caller wipes it after use.
    void fill_add_request(cryx_add_request& request) const noexcept;

  private:
    std::int32_t m_number;
    std::int32_t m_mode;
    std::string m_managed_device;
    bytes m_first_key;
    bytes m_second_key;
};

// The number in a driver node name: -1 for a name no longer than "/dev/cryx", otherwise the
// integer read from what follows that prefix's length (the prefix itself is not compared).
// Throws std::invalid_argument without digits and std::out_of_range beyond 32 bits.
std::int32_t parse_device_number(std::string_view name);
