#include "database/database_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include <cstdio>
#include <utility>

#include "system/unique_fd.h"

namespace db::file {

namespace {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

std::string directory_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

bool write_all(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The rename is only durable once the directory entry itself reached the disk.
void sync_directory(const std::string& path) {
    os::unique_fd dir(::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) {
        ::fsync(dir.get());
    }
}

}  // namespace

bool read(const std::string& path, bytes& data, std::error_code& ec) {
    data.clear();
    os::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        ec = last_error();
        return false;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        ec = last_error();
        return false;
    }
    data.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t got = ::read(fd.get(), data.data() + done, data.size() - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ec = last_error();
            data.clear();
            return false;
        }
        if (got == 0) {
            break;  // the file shrank while it was read
        }
        done += static_cast<std::size_t>(got);
    }
    data.resize(done);
    return true;
}

bool replace(const std::string& path, const bytes& data, std::error_code& ec) {
    return replace(path, data.data(), data.size(), ec);
}

bool replace(const std::string& path, const unsigned char* data, std::size_t size,
             std::error_code& ec) {
    const std::string temporary = path + ".new";
    os::unique_fd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        ec = last_error();
        return false;
    }
    const bool written = write_all(fd.get(), data, size) && ::fsync(fd.get()) == 0 && fd.close() &&
                         ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        ec = last_error();
        ::unlink(temporary.c_str());
        return false;
    }
    sync_directory(path);
    return true;
}

bool keep_copy(const std::string& path, const std::string& backup_path, std::error_code& ec) {
    const std::string temporary = backup_path + ".new";
    ::unlink(temporary.c_str());  // a leftover of an interrupted backup
    if (::link(path.c_str(), temporary.c_str()) == 0) {
        if (::rename(temporary.c_str(), backup_path.c_str()) == 0) {
            // When the backup already was this very file (two backups without a save in
            // between) rename() leaves both names in place.
            ::unlink(temporary.c_str());
            sync_directory(backup_path);
            return true;
        }
        ec = last_error();
        ::unlink(temporary.c_str());
        return false;
    }
    if (errno == ENOENT) {
        ec = last_error();
        return false;
    }
    // Hard links refused (file system or permissions): copy instead.
    bytes data;
    return read(path, data, ec) && replace(backup_path, data, ec);
}

}  // namespace db::file
