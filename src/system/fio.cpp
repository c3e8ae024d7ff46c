#include "system/fio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "system/staged_file.h"
#include "system/unique_fd.h"
#include "system/wipe.h"

namespace fio {

namespace {

// Files that report no size (such as /proc tables) are read in steps of this.
constexpr std::size_t kReadStep = 4096;

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// Gives out room for at least size elements. The old storage is wiped before it is freed:
// what was read so far may be a secret (the service file), and no copy of it may be left
// in freed memory.
template <typename Container>
void grow(Container& out, std::size_t size) {
    Container bigger;
    bigger.reserve(size);
    bigger.assign(out.begin(), out.end());
    util::wipe(out);
    out.swap(bigger);
}

// Reads the whole file into out, straight into its storage: a regular file's size is known
// beforehand, so its content is never copied on the way.
template <typename Container>
bool read_all(const std::string& path, Container& out, std::error_code& ec) {
    ec.clear();
    util::wipe(out);
    out.clear();
    errno = 0;
    os::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        ec = last_error();
        return false;
    }
    // One byte more than the size shows the end of the file without a second read buffer.
    std::size_t room = kReadStep;
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        room = static_cast<std::size_t>(info.st_size) + 1;
    }
    grow(out, room);
    std::size_t done = 0;
    for (;;) {
        if (done == room) {
            room *= 2;
            grow(out, room);
        }
        out.resize(room);
        errno = 0;
        const ssize_t got = ::read(fd.get(), out.data() + done, room - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ec = last_error();
            util::wipe(out);
            out.clear();
            return false;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    out.resize(done);
    return true;
}

// The mode and owner the new version takes over from the file it replaces; a new file is
// private (mode 0600: the daemon runs with umask 0). Only a regular file is replaced: a
// link is refused rather than followed, and a directory or device is not a file to write.
bool attributes_of(const std::string& path, bool& exists, struct stat& info, std::error_code& ec) {
    errno = 0;
    if (::lstat(path.c_str(), &info) != 0) {
        exists = false;
        if (errno == ENOENT) {
            return true;
        }
        ec = last_error();
        return false;
    }
    exists = true;
    if (S_ISREG(info.st_mode)) {
        return true;
    }
    ec.assign(S_ISLNK(info.st_mode)   ? ELOOP
              : S_ISDIR(info.st_mode) ? EISDIR
                                      : EINVAL,
              std::generic_category());
    return false;
}

bool write_all(const std::string& path, const void* data, std::size_t size, std::error_code& ec) {
    ec.clear();
    bool exists = false;
    struct stat info {};
    if (!attributes_of(path, exists, info, ec)) {
        return false;
    }
    staged_file file;
    return file.create(path, ec) &&
           (!exists || file.set_attributes(info.st_mode & 07777, info.st_uid, info.st_gid, ec)) &&
           file.write(data, size, ec) && file.commit(ec);
}

}  // namespace

std::string read(const std::string& path, std::error_code& ec) {
    std::string text;
    read_all(path, text, ec);
    return text;
}

bool read(const std::string& path, std::vector<unsigned char>& data, std::error_code& ec) {
    return read_all(path, data, ec);
}

bool write(const std::string& path, const std::vector<unsigned char>& data, std::error_code& ec) {
    return write_all(path, data.data(), data.size(), ec);
}

bool write(const std::string& path, const std::string& text, std::error_code& ec) {
    return write_all(path, text.data(), text.size(), ec);
}

}  // namespace fio
