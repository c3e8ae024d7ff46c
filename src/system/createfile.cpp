#include "system/createfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "system/unique_fd.h"

namespace os {

bool create_file(const std::string& path, off_t size, std::error_code& ec) {
    ec.clear();
    unique_fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        ec.assign(errno, std::system_category());
        return false;
    }
    const int err = ::posix_fallocate(fd.get(), 0, size);
    if (err != 0) {
        // The new file stays: the caller that asked for it decides whether to remove it.
        ec.assign(err, std::system_category());
        return false;
    }
    return true;
}

}  // namespace os
