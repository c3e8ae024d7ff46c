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

bool replace(const std::string& path, const bytes& data, std::error_code& ec,
             const std::string& backup_path) {
    return replace(path, data.data(), data.size(), ec, backup_path);
}

namespace {

// Writes data to a new file at path, flushed to disk; false with errno on failure, the
// file then removed. A leftover of an interrupted save is removed first and the file made
// afresh: opened as it was, it would keep its mode and owner, and the database would take
// them over when it is renamed into place.
bool write_new(const std::string& path, const unsigned char* data, std::size_t size) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    os::unique_fd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) {
        return false;
    }
    if (write_all(fd.get(), data, size) && ::fsync(fd.get()) == 0 && fd.close()) {
        return true;
    }
    const int error = errno;
    ::unlink(path.c_str());
    errno = error;
    return false;
}

// Puts the staged copy in place of backup: the two names exchanged where the file system
// can, so that undo_backup() can exchange them back; a plain rename elsewhere. Sets
// exchanged accordingly.
bool commit_backup(const std::string& staged, const std::string& backup, bool& exchanged) {
    exchanged =
        ::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, backup.c_str(), RENAME_EXCHANGE) == 0;
    if (exchanged) {
        return true;
    }
    // No previous backup to exchange with (ENOENT), or no exchange on this file system.
    return (errno == ENOENT || errno == EINVAL || errno == ENOSYS) &&
           ::rename(staged.c_str(), backup.c_str()) == 0;
}

}  // namespace

bool replace(const std::string& path, const unsigned char* data, std::size_t size,
             std::error_code& ec, const std::string& backup_path) {
    const std::string temporary = path + ".new";
    const std::string staged = backup_path + ".new";
    const auto fail = [&] {
        ec = last_error();
        ::unlink(temporary.c_str());
        if (!backup_path.empty()) {
            ::unlink(staged.c_str());
        }
        return false;
    };
    if (!write_new(temporary, data, size)) {
        return fail();
    }
    bool exchanged = false;
    if (!backup_path.empty() && !commit_backup(staged, backup_path, exchanged)) {
        return fail();
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        if (exchanged) {
            (void)::renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, backup_path.c_str(),
                              RENAME_EXCHANGE);
        }
        errno = error;
        return fail();
    }
    if (exchanged) {
        ::unlink(staged.c_str());  // the previous backup
    }
    sync_directory(path);
    return true;
}

bool stage_copy(const std::string& path, const std::string& backup_path, std::error_code& ec) {
    const std::string staged = backup_path + ".new";
    ::unlink(staged.c_str());  // a leftover of an interrupted save
    if (::link(path.c_str(), staged.c_str()) == 0) {
        return true;
    }
    if (errno == ENOENT) {
        ec = last_error();
        return false;
    }
    // Hard links refused (file system or permissions): copy instead.
    bytes data;
    if (!read(path, data, ec)) {
        return false;
    }
    if (!write_new(staged, data.data(), data.size())) {
        ec = last_error();
        return false;
    }
    return true;
}

}  // namespace db::file
