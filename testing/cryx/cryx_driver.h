#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <system_error>

#include "testing/cryx/cryx_control.h"

namespace zt_cryx {

struct cryx_volume;

// The devices of the stand-in driver. An add opens the managed block device exclusively,
// serves its decrypted view through FUSE, attaches an inner loop device to the view and
// makes "/dev/cryxN" the block node of that loop device, with "/sys/block/cryxN/dev" answered
// from the run directory. Failures are errno values in the generic category, as the control
// node reports them.
class cryx_driver {
  public:
    cryx_driver();
    // Ends every device that is left, by force where it is still in use.
    ~cryx_driver();
    cryx_driver(const cryx_driver&) = delete;
    cryx_driver& operator=(const cryx_driver&) = delete;

    // Makes the device the add record describes; its number in number. EINVAL for a record
    // without keys, with another mode, a bad number or an empty path; EEXIST for a number in
    // use; ENOTBLK when the managed path is no block device; EBUSY when another holds it.
    bool add(std::span<const unsigned char, add_record::size> record, std::int32_t& number,
             std::error_code& ec);
    // Ends device number: EBUSY while it is mounted or open, ENXIO when there is none.
    bool remove(std::int32_t number, std::error_code& ec);
    // Ends every device; those still in use lose their view (their I/O fails from then on)
    // and their inner loop device goes with its last user.
    void remove_all() noexcept;

  private:
    std::map<std::int32_t, std::unique_ptr<cryx_volume>> m_volumes;
};

}  // namespace zt_cryx
