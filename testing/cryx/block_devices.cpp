#include "testing/cryx/block_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace zt_cryx {

namespace {

std::error_code last_error() {
    return {errno, std::generic_category()};
}

// "MAJOR:MINOR" of /sys/block/<name>/dev.
bool sys_block_dev(const std::string& name, dev_t& dev) {
    std::ifstream in("/sys/block/" + name + "/dev");
    unsigned major_number = 0;
    unsigned minor_number = 0;
    char colon = 0;
    if (!(in >> major_number >> colon >> minor_number) || colon != ':') {
        return false;
    }
    dev = makedev(major_number, minor_number);
    return true;
}

bool is_number(const char* text) {
    return *text != '\0' && std::strspn(text, "0123456789") == std::strlen(text);
}

}  // namespace

bool ensure_loop_node(long number, dev_t& dev, std::error_code& ec) {
    const std::string name = "loop" + std::to_string(number);
    if (!sys_block_dev(name, dev)) {
        ec = std::make_error_code(std::errc::no_such_device);
        return false;
    }
    const std::string node = "/dev/" + name;
    struct stat st {};
    if (lstat(node.c_str(), &st) == 0) {
        const bool right = S_ISBLK(st.st_mode) && st.st_rdev == dev;
        ec = right ? std::error_code() : std::make_error_code(std::errc::file_exists);
        return right;
    }
    if (errno != ENOENT || mknod(node.c_str(), S_IFBLK | 0600, dev) != 0) {
        ec = last_error();
        return false;
    }
    ec.clear();
    return true;
}

bool attach_loop(int file_fd, attached_loop& out, std::error_code& ec) {
    const os::unique_fd control(open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (!control) {
        ec = last_error();
        return false;
    }
    // Another process may take the free device first; then the next one is tried.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int number = ioctl(control.get(), LOOP_CTL_GET_FREE);
        if (number < 0) {
            ec = last_error();
            return false;
        }
        dev_t dev = 0;
        if (!ensure_loop_node(number, dev, ec)) {
            return false;
        }
        const std::string node = "/dev/loop" + std::to_string(number);
        os::unique_fd fd(open(node.c_str(), O_RDWR | O_CLOEXEC));
        if (!fd) {
            ec = last_error();
            return false;
        }
        loop_config config{};
        config.fd = static_cast<__u32>(file_fd);
        config.block_size = 512;
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        std::snprintf(reinterpret_cast<char*>(config.info.lo_file_name), LO_NAME_SIZE,
                      "zt-cryx view");
        if (ioctl(fd.get(), LOOP_CONFIGURE, &config) == 0) {
            out.number = number;
            out.dev = dev;
            out.node = node;
            out.fd = std::move(fd);
            ec.clear();
            return true;
        }
        if (errno != EBUSY) {
            ec = last_error();
            return false;
        }
    }
    ec = std::make_error_code(std::errc::device_or_resource_busy);
    return false;
}

bool wait_loop_detached(long number, std::chrono::milliseconds timeout) {
    const std::string backing = "/sys/block/loop" + std::to_string(number) + "/loop/backing_file";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (access(backing.c_str(), F_OK) != 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool device_in_use(const std::string& node, dev_t dev, std::error_code& ec) {
    ec.clear();
    // A mounted file system (or anyone else who claimed the device) holds it exclusively.
    const os::unique_fd exclusive(open(node.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC));
    if (!exclusive) {
        if (errno == EBUSY) {
            return true;
        }
        ec = last_error();
        return false;
    }
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        ec = last_error();
        return false;
    }
    const std::string self = std::to_string(getpid());
    bool used = false;
    for (dirent* process; !used && (process = readdir(proc)) != nullptr;) {
        if (!is_number(process->d_name) || self == process->d_name) {
            continue;
        }
        const std::string fd_dir = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = opendir(fd_dir.c_str());
        if (fds == nullptr) {
            continue;  // gone meanwhile
        }
        for (dirent* entry; !used && (entry = readdir(fds)) != nullptr;) {
            struct stat st {};
            used = is_number(entry->d_name) &&
                   stat((fd_dir + "/" + entry->d_name).c_str(), &st) == 0 && S_ISBLK(st.st_mode) &&
                   st.st_rdev == dev;
        }
        closedir(fds);
    }
    closedir(proc);
    return used;
}

bool block_device_size(int fd, std::uint64_t& size, std::error_code& ec) {
    if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
        ec = last_error();
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace zt_cryx
