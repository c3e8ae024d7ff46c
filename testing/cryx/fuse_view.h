#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "testing/cryx/sector_cipher.h"

namespace zt_cryx {

// The decrypted view of one managed device: a FUSE file system whose root is a single regular
// file of the device's size, mounted on an empty regular file and served by a thread of its
// own. Reads decrypt the device's sectors, writes encrypt them; discards and zeroing write
// encrypted zeros, so they read back as zeros.
class fuse_view {
  public:
    // Mounts the view of the device open on managed_fd (borrowed; it must outlive the view)
    // with size bytes (a multiple of 512) at mount_point and starts serving it. Takes the
    // cipher. Null with ec on failure, nothing left mounted.
    static std::unique_ptr<fuse_view> start(const std::string& mount_point, int managed_fd,
                                            std::uint64_t size, sector_cipher cipher,
                                            std::error_code& ec);
    // Stops serving and unmounts; requests still queued fail.
    ~fuse_view();
    fuse_view(const fuse_view&) = delete;
    fuse_view& operator=(const fuse_view&) = delete;

    struct state;

  private:
    explicit fuse_view(std::unique_ptr<state> s);
    std::unique_ptr<state> m_state;
};

}  // namespace zt_cryx
