#include "system/mount.h"

#include <fcntl.h>
#include <libmount.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

// A fresh context that runs no helper program: the daemon mounts kernel file systems only,
// and a helper could not reach the pinned target anyway.
context_ptr new_context() {
    context_ptr context(mnt_new_context());
    if (context && mnt_context_disable_helpers(context.get(), 1) != 0) {
        context.reset();
    }
    return context;
}

// Clears what the last operation set and targets target again; false when it cannot be set.
bool retarget(libmnt_context* c, const std::string& target) {
    return mnt_reset_context(c) == 0 && mnt_context_disable_helpers(c, 1) == 0 &&
           mnt_context_set_target(c, target.c_str()) == 0;
}

// The errno of a failed open of target: a link in its last component shows as ELOOP.
int open_error(const std::string& target, int error) {
    struct stat st {};
    if (error == ENOTDIR && ::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        return ELOOP;
    }
    return error;
}

}  // namespace

int mount(const std::string& source, const std::string& target, const std::string& fstype,
          bool read_only) {
    // The directory is pinned first: the mount goes through its descriptor, so a link put in
    // its place after the check is never followed.
    const os::unique_fd directory(
        ::open(target.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory) {
        return open_error(target, errno);
    }
    const std::string pinned = "/proc/self/fd/" + std::to_string(directory.get());
    const context_ptr context = new_context();
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
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        return ELOOP;
    }
    const context_ptr context = new_context();
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
    if (!retarget(c, target)) {
        return ENOMEM;
    }
    mnt_context_enable_rdonly_umount(c, 1);
    (void)mnt_context_umount(c);
    if (!retarget(c, target)) {
        return ENOMEM;
    }
    mnt_context_enable_rdonly_umount(c, 0);
    return mnt_context_umount(c);
}

}  // namespace sys
