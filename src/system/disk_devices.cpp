#include "system/disk_devices.h"

namespace sys {

bool release_devices(cryx_device& driver, LoopDevice& loop, std::error_code& ec,
                     const kernel_calls& calls) {
    ec.clear();
    if (driver.get_number() >= 0 && !driver.remove(ec, calls)) {
        return false;
    }
    return !loop.used() || loop.drop(ec, calls);
}

}  // namespace sys
