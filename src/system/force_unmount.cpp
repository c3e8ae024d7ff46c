#include "system/force_unmount.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "system/mount.h"

namespace sys {

namespace {

// How long the killed processes are given to let go of the file system.
constexpr std::chrono::milliseconds kExitWait{2000};

// Signals every process with sig and notes those it reached (each process once).
void signal_all(const std::vector<os::holder>& processes, int sig, force_result& result) {
    for (const auto& process : processes) {
        if (!os::send_signal(process, sig)) {
            continue;  // ended already
        }
        const bool known =
            std::any_of(result.processes.begin(), result.processes.end(),
                        [&](const ended_process& ended) { return ended.pid == process.pid; });
        if (!known) {
            result.processes.push_back({process.pid, process.command, process.how});
        }
    }
}

// Waits until every process has ended or the time is up: on its pidfd, or without one by
// looking again every few milliseconds.
void wait_gone(const std::vector<os::holder>& processes) {
    constexpr std::chrono::milliseconds kLookAgain{5};
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    for (const auto& process : processes) {
        pollfd entry{process.pidfd.get(), POLLIN, 0};
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || os::has_ended(process)) {
                break;
            }
            const auto wait = process.pidfd ? left : std::min(left, kLookAgain);
            if (::poll(process.pidfd ? &entry : nullptr, process.pidfd ? 1 : 0,
                       static_cast<int>(wait.count())) == -1 &&
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
    bool no_line = false;
    const auto first = os::get_pid_list(device_path, scan, &no_line);
    result.no_mount_line = no_line;
    signal_all(first, SIGTERM, result);

    std::error_code again;
    const auto second = os::get_pid_list(device_path, again, &no_line);
    result.no_mount_line = result.no_mount_line || no_line;
    if (!scan) {
        scan = again;
    }
    signal_all(second, SIGKILL, result);
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
