#pragma once

#include <string>
#include <system_error>
#include <vector>

#include "system/getpidlist.h"

namespace sys {

// A process the forced unmount ended.
struct ended_process {
    pid_t pid = 0;
    std::string command;
};

struct force_result {
    bool unmounted = false;
    std::vector<ended_process> processes;  // every process that was signalled
    // The mount table had no line for the device: working directories were not checked.
    bool no_mount_line = false;
};

// Ends the processes that use the file system mounted from device_path (SIGTERM, at once a
// second scan, SIGKILL for those still there; always through the pidfds the scans opened),
// waits a short while for the killed ones to be gone, then unmounts mount_dir. unmounted is
// true when the unmount succeeded. A failed unmount with the system call's errno leaves it in
// ec; another failure clears ec (the caller reports its own unmount failure). A scan error
// stays in ec while the unmount is still tried.
force_result force_unmount(const std::string& device_path, const std::string& mount_dir,
                           std::error_code& ec);

}  // namespace sys
