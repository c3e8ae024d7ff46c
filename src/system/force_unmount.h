#pragma once

#include <string>
#include <system_error>
#include <vector>

#include "system/getpidlist.h"

namespace sys {

// A process the forced unmount signalled.
struct ended_process {
    pid_t pid = 0;
    std::string command;
    os::hold how = os::hold::working_directory;
};

struct force_result {
    bool unmounted = false;
    // The device had no line in the mount table: no process was tested by its directories.
    bool no_mount_line = false;
    std::vector<ended_process> processes;  // every process that was signalled, each once
};

// Ends the processes that use the file system mounted from device_path (SIGTERM, at once a
// second scan, SIGKILL for those still there; through the pidfds the scans opened, by pid
// where there are none),
// waits up to two seconds for the killed ones to be gone, then unmounts mount_dir. unmounted
// is true when the unmount succeeded. A failed unmount with the system call's errno leaves it
// in ec; another failure clears ec (the caller reports its own unmount failure). A scan error
// stays in ec while the unmount is still tried.
force_result force_unmount(const std::string& device_path, const std::string& mount_dir,
                           std::error_code& ec);

}  // namespace sys
