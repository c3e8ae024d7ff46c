#pragma once

#include <system_error>

#include "system/cryx_device.h"
#include "system/kernel_calls.h"
#include "system/loop_device.h"

namespace sys {

// Releases the devices a disk request set up: the driver device first (when the handle has a
// number), then the loop device (when the handle is used), since the driver device holds the
// loop device open. A driver device that cannot be removed keeps its loop device attached;
// the first failure is reported.
bool release_devices(cryx_device& driver, LoopDevice& loop, std::error_code& ec,
                     const kernel_calls& calls = kernel_calls::real());

}  // namespace sys
