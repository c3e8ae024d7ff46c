#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Life-cycle status of a user's disk as stored in the database and sent to clients
// (a signed 32-bit value on the wire).
enum class DiskStateInfo : std::int32_t {
    none = 0,
    created = 1,
    mounted = 2,
    unmounted = 3,
};

namespace db {

// Runtime state of a disk: the kernel devices that currently carry it and whether it is
// mounted. Never stored: after a restart a disk starts unmounted with no devices.
class DiskState {
  public:
    const std::string& get_cryx_device_name() const noexcept { return m_cryx_device_name; }
    void set_cryx_device_name(std::string name) { m_cryx_device_name = std::move(name); }

    const std::string& get_loop_device_name() const noexcept { return m_loop_device_name; }
    void set_loop_device_name(std::string name) { m_loop_device_name = std::move(name); }

    bool is_mounted() const noexcept { return m_mounted; }
    void set_mount(bool mounted) noexcept { m_mounted = mounted; }

  private:
    std::string m_cryx_device_name;
    std::string m_loop_device_name;
    bool m_mounted = false;
};

}  // namespace db
