#pragma once

// The sandbox's own /dev and the release of the loop devices used inside it (internal to
// the sandbox).

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zt_testing::sandbox_dev {

// In the namespace's holder, once the root is in place: a tmpfs over /dev that keeps the
// host's /dev/pts and /dev/shm bound in. Only system calls.
bool mount_private_dev() noexcept;

// Fills the private /dev, dev_dir as the host reaches it, with the nodes that the daemon, the
// driver stand-in and the disk tools need: null, zero, full, random, urandom, tty, fuse,
// loop-control and loop nodes (every loop device there is and a margin of numbers not yet
// made, since losetup and the driver ask the kernel for new ones), plus the usual links.
// Throws std::system_error on failure.
void populate_private_dev(const std::string& dev_dir);

// Mount points, as seen inside the namespace of holder, of the file systems mounted there
// from loop devices, in mount order.
std::vector<std::string> loop_mount_points(pid_t holder);

// Unmounts points inside the namespace ns_fd, last first, lazily when one is busy.
void unmount_inside(int ns_fd, const std::vector<std::string>& points) noexcept;

// Detaches every loop device whose backing file lies on a file system mounted in the
// namespace of holder and not in the caller's (the sandbox's tmpfs mounts, the driver's
// views and what is mounted from them). Devices still in use go when their last user does.
// The numbers detached; dev_dir is where their nodes are reached.
std::vector<long> detach_sandbox_loops(pid_t holder, const std::string& dev_dir) noexcept;

// Waits until none of the loop devices numbered has a backing file any more.
bool wait_detached(const std::vector<long>& numbers, std::chrono::milliseconds timeout) noexcept;

}  // namespace zt_testing::sandbox_dev
