#include "system/mount.h"

#include <fcntl.h>
#include <libmount.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "system/unique_fd.h"

namespace sys {

namespace {

struct context_deleter {
    void operator()(libmnt_context* context) const noexcept { mnt_free_context(context); }
};
using context_ptr = std::unique_ptr<libmnt_context, context_deleter>;

constexpr unsigned long kMountFlags = MS_NOSUID | MS_NODEV | MS_DIRSYNC;

}  // namespace

int mount(const std::string& source, const std::string& target, const std::string& fstype,
          bool read_only) {
    // The directory is pinned first: the mount goes through its descriptor, so a link put in
    // its place after the checks is never followed.
    const os::unique_fd directory(
        ::open(target.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory) {
        return errno == ENOTDIR ? ELOOP : errno;
    }
    const std::string pinned = "/proc/self/fd/" + std::to_string(directory.get());
    context_ptr context(mnt_new_context());
    if (!context) {
        return ENOMEM;
    }
    libmnt_context* c = context.get();
    if (mnt_context_disable_canonicalize(c, 1) != 0 ||
        mnt_context_set_fstype(c, fstype.c_str()) != 0 ||
        mnt_context_set_source(c, source.c_str()) != 0 ||
        mnt_context_set_mflags(
            c, kMountFlags | (read_only ? static_cast<unsigned long>(MS_RDONLY) : 0UL)) != 0 ||
        mnt_context_set_target(c, pinned.c_str()) != 0) {
        return -1;
    }
    return mnt_context_mount(c);
}

int unmount(const std::string& target) {
    context_ptr context(mnt_new_context());
    if (!context) {
        return ENOMEM;
    }
    libmnt_context* c = context.get();
    if (mnt_context_set_target(c, target.c_str()) != 0) {
        return ENOMEM;
    }
    if (mnt_context_umount(c) == 0) {
        return 0;
    }
    mnt_reset_context(c);
    if (mnt_context_set_target(c, target.c_str()) != 0) {
        return ENOMEM;
    }
    mnt_context_enable_rdonly_umount(c, 1);
    (void)mnt_context_umount(c);
    mnt_reset_context(c);
    if (mnt_context_set_target(c, target.c_str()) != 0) {
        return ENOMEM;
    }
    mnt_context_enable_rdonly_umount(c, 0);
    return mnt_context_umount(c);
}

}  // namespace sys
