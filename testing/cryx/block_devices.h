#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>

#include "system/unique_fd.h"

namespace zt_cryx {

// A loop device attached by the driver. It detaches itself once the last descriptor of it
// is closed, so `fd` keeps it alive and a driver that dies takes its devices along.
struct attached_loop {
    long number = -1;
    dev_t dev = 0;
    std::string node;  // "/dev/loop" followed by the number
    os::unique_fd fd;
};

// Makes sure "/dev/loopN" exists as the block node of loop device N (creating it from the
// device number in /sys when the private /dev lacks it); its device number in dev.
bool ensure_loop_node(long number, dev_t& dev, std::error_code& ec);

// Attaches a free loop device to the file open on file_fd (read-write, auto-clearing).
bool attach_loop(int file_fd, attached_loop& out, std::error_code& ec);

// Waits until loop device `number` has no backing file; false when it still has one at the
// deadline.
bool wait_loop_detached(long number, std::chrono::milliseconds timeout);

// Whether block device dev (reached through node) is mounted, claimed, or open in any other
// process than this one. False with ec when that cannot be found out.
bool device_in_use(const std::string& node, dev_t dev, std::error_code& ec);

// The size in bytes of the block device open on fd.
bool block_device_size(int fd, std::uint64_t& size, std::error_code& ec);

}  // namespace zt_cryx
