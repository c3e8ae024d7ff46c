#include "system/force_unmount.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "system/mount.h"

namespace sys {

namespace {

// How long the killed processes are given to let go of the file system.
constexpr std::chrono::milliseconds kExitWait{2000};

bool send(const os::holder& process, int sig) {
    return ::syscall(SYS_pidfd_send_signal, process.pidfd.get(), sig, nullptr, 0) == 0;
}

// Waits until every process is gone (its pidfd readable) or the time is up.
void wait_gone(std::vector<os::holder>& processes) {
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    for (auto& process : processes) {
        pollfd entry{process.pidfd.get(), POLLIN, 0};
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) != -1 ||
                errno != EINTR) {
                break;
            }
        }
    }
}

}  // namespace

force_result force_unmount(const std::string& device_path, const std::string& mount_dir,
                           std::error_code& ec) {
    force_result result;
    std::error_code scan;
    auto first = os::get_pid_list(device_path, scan, &result.no_mount_line);
    for (const auto& process : first) {
        if (send(process, SIGTERM)) {
            result.processes.push_back({process.pid, process.command});
        }
    }
    std::error_code again;
    auto second = os::get_pid_list(device_path, again);
    if (!scan) {
        scan = again;
    }
    for (const auto& process : second) {
        if (send(process, SIGKILL)) {
            bool known = false;
            for (const auto& ended : result.processes) {
                known = known || ended.pid == process.pid;
            }
            if (!known) {
                result.processes.push_back({process.pid, process.command});
            }
        }
    }
    wait_gone(second);
    const int unmounted = sys::unmount(mount_dir);
    result.unmounted = unmounted == 0;
    if (unmounted > 0) {
        ec = {unmounted, std::generic_category()};
    } else if (unmounted < 0) {
        ec.clear();
    } else {
        ec = scan;
    }
    return result;
}

}  // namespace sys
