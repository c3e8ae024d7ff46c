#include "system/fio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace fio {

namespace {

struct file_closer {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// Reads the whole stream into out, up to its end.
template <typename Container>
bool read_all(const std::string& path, const char* mode, Container& out, std::error_code& ec) {
    ec.clear();
    out.clear();
    errno = 0;
    file_ptr file(std::fopen(path.c_str(), mode));
    if (!file) {
        ec = last_error();
        return false;
    }
    // The size only reserves space, and only for regular files: a directory reports an
    // absurd size, and /proc tables report none although they have content.
    struct stat info {};
    if (::fstat(::fileno(file.get()), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        out.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        out.insert(out.end(), buffer, buffer + got);
        if (got < sizeof buffer) {
            break;
        }
    }
    if (std::ferror(file.get()) != 0) {
        ec = last_error();
        out.clear();
        return false;
    }
    return true;
}

// New files are created with mode 0600: the daemon runs with umask 0, and what it writes
// (the database above all) is for root alone. An existing file keeps its mode.
bool write_all(const std::string& path, const void* data, std::size_t size, std::error_code& ec) {
    ec.clear();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        ec = last_error();
        return false;
    }
    const auto* next = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        errno = 0;
        const ssize_t written = ::write(fd, next, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ec = last_error();
            ::close(fd);
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::close(fd) != 0) {
        ec = last_error();
        return false;
    }
    return true;
}

}  // namespace

std::string read(const std::string& path, std::error_code& ec) {
    std::string text;
    read_all(path, "re", text, ec);
    return text;
}

bool read(const std::string& path, std::vector<unsigned char>& data, std::error_code& ec) {
    return read_all(path, "rbe", data, ec);
}

bool write(const std::string& path, const std::vector<unsigned char>& data, std::error_code& ec) {
    return write_all(path, data.data(), data.size(), ec);
}

bool write(const std::string& path, const std::string& text, std::error_code& ec) {
    return write_all(path, text.data(), text.size(), ec);
}

}  // namespace fio
