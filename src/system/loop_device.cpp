#include "system/loop_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "system/unique_fd.h"

namespace sys {

namespace {

using namespace std::chrono_literals;

constexpr const char* kControlNode = "/dev/loop-control";
constexpr const char* kNodePrefix = "/dev/loop";
constexpr std::size_t kNodePrefixLength = 9;
constexpr std::uint64_t kSector = 512;
// Pause between two attempts of a request the kernel cannot serve yet.
constexpr auto kRetryPause = 250ms;
// Attempts to open a node that udev has not given its permissions yet.
constexpr int kOpenAttempts = 9;
// Retries after the first request answered EAGAIN.
constexpr int kRequestRetries = 8;

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::system_category()};
}

// One request on the loop control node, opened for it alone: its result, or -1 with errno.
int control_request(unsigned long request, long arg, std::error_code& ec) {
    ec.clear();
    errno = 0;
    const os::unique_fd control(::open(kControlNode, O_RDWR | O_CLOEXEC));
    if (!control) {
        ec = last_error();
        return -1;
    }
    errno = 0;
    const int result = ::ioctl(control.get(), request, arg);
    if (result < 0) {
        ec = last_error();
        return -1;
    }
    return result;
}

bool flag_set(const loop_info64& info, std::uint32_t flag) {
    return (info.lo_flags & flag) != 0;
}

void set_flag(loop_info64& info, std::uint32_t flag, bool on) {
    info.lo_flags = on ? (info.lo_flags | flag) : (info.lo_flags & ~flag);
}

}  // namespace

LoopDevice::LoopDevice(long number, int fd) noexcept
    : m_number(number), m_fd(fd), m_number_valid(0), m_info{} {}

LoopDevice::~LoopDevice() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

LoopDevice::LoopDevice(LoopDevice&& other) noexcept
    : m_number(other.m_number),
      m_fd(other.m_fd),
      m_number_valid(other.m_number_valid),
      m_info(other.m_info),
      m_backing_file(std::move(other.m_backing_file)),
      m_device_name(std::move(other.m_device_name)) {
    other.reset();
}

LoopDevice& LoopDevice::operator=(LoopDevice&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_number = other.m_number;
        m_fd = other.m_fd;
        m_number_valid = other.m_number_valid;
        m_info = other.m_info;
        m_backing_file = std::move(other.m_backing_file);
        m_device_name = std::move(other.m_device_name);
        other.reset();
    }
    return *this;
}

void LoopDevice::reset() noexcept {
    m_number = -1;
    m_fd = -1;
    m_number_valid = 0;
    m_info = loop_info64{};
    m_backing_file.clear();
    m_device_name.clear();
}

LoopDevice LoopDevice::get_free(std::error_code& ec) {
    LoopDevice device;
    get_free(device, ec);
    return device;
}

bool LoopDevice::get_free(LoopDevice& device, std::error_code& ec) {
    ec.clear();
    if (device.used()) {
        ec = LoopError::DeviceBusy;
        return false;
    }
    const int number = control_request(LOOP_CTL_GET_FREE, 0, ec);
    if (number < 0) {
        return false;
    }
    device.m_number = number;
    device.m_number_valid = 1;
    return true;
}

LoopDevice LoopDevice::add(long number, std::error_code& ec) {
    ec.clear();
    if (number < 0) {
        ec = LoopError::DeviceNumberNotSet;
        return {};
    }
    if (control_request(LOOP_CTL_ADD, number, ec) < 0) {
        return {};
    }
    LoopDevice device(number, -1);
    device.m_number_valid = 1;
    return device;
}

bool LoopDevice::add(LoopDevice& device, std::error_code& ec) {
    ec.clear();
    if (device.m_number == -1) {
        ec = LoopError::DeviceNumberNotSet;
        return false;
    }
    if (device.m_number_valid == 0) {
        ec = LoopError::DeviceNumberNotValid;
        return false;
    }
    if (control_request(LOOP_CTL_ADD, static_cast<long>(device.m_number), ec) < 0) {
        return false;
    }
    device.m_number_valid = 1;
    return true;
}

bool LoopDevice::remove(LoopDevice& device, std::error_code& ec) {
    ec.clear();
    if (device.m_number == -1) {
        ec = LoopError::DeviceNumberNotSet;
        return false;
    }
    if (device.m_number_valid == 0) {
        ec = LoopError::DeviceNumberNotValid;
        return false;
    }
    if (control_request(LOOP_CTL_REMOVE, static_cast<long>(device.m_number), ec) < 0) {
        return false;
    }
    device.m_number = -1;
    device.m_number_valid = 0;
    return true;
}

bool LoopDevice::set_backing_file(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (used()) {
        ec = LoopError::DeviceBusy;
        return false;
    }
    m_backing_file = path;
    return true;
}

LoopDevice& LoopDevice::set_read_only(bool on) noexcept {
    set_flag(m_info, LO_FLAGS_READ_ONLY, on);
    return *this;
}

LoopDevice& LoopDevice::set_dio(bool on) noexcept {
    set_flag(m_info, LO_FLAGS_DIRECT_IO, on);
    return *this;
}

bool LoopDevice::setup(std::error_code& ec, const kernel_calls& calls) {
    ec.clear();
    if (m_backing_file.empty()) {
        ec = LoopError::BackingFileNotSet;
        return false;
    }
    if (m_number < 0) {
        ec = LoopError::DeviceNumberNotSet;
        return false;
    }
    if (m_number_valid == 0) {
        ec = LoopError::DeviceNumberNotValid;
        return false;
    }
    const auto fail = [this](os::unique_fd& backing) {
        backing.reset();
        m_backing_file.clear();
        return false;
    };

    // A link in the last component could put another file than the container under the disk.
    int flags = O_CLOEXEC | O_NOFOLLOW;
    if (flag_set(m_info, LO_FLAGS_DIRECT_IO)) {
        flags |= O_DIRECT;
    }
    bool read_only = flag_set(m_info, LO_FLAGS_READ_ONLY);
    errno = 0;
    os::unique_fd backing(
        calls.open(m_backing_file.c_str(), flags | (read_only ? O_RDONLY : O_RDWR)));
    if (!backing && !read_only && (errno == EROFS || errno == EACCES)) {
        read_only = true;
        errno = 0;
        backing.reset(calls.open(m_backing_file.c_str(), flags | O_RDONLY));
    }
    if (!backing) {
        ec = last_error();
        return fail(backing);
    }
    set_flag(m_info, LO_FLAGS_READ_ONLY, read_only);

    if (m_device_name.empty()) {
        m_device_name = build_loop_dev_name(static_cast<long>(m_number));
    }
    // A node that has just been created may not have its permissions yet.
    for (int attempt = 1; m_fd < 0; ++attempt) {
        m_fd = get_loop_device_fd(static_cast<long>(m_number), m_device_name, &m_info, ec, calls);
        const bool denied = ec.value() == EACCES && ec.category() == std::system_category();
        if (m_fd >= 0 || !denied || attempt == kOpenAttempts) {
            break;
        }
        calls.pause(kRetryPause);
    }
    if (m_fd < 0) {
        return fail(backing);
    }

    errno = 0;
    if (calls.request(m_fd, LOOP_SET_FD, static_cast<std::uintptr_t>(backing.get())) < 0) {
        ec = last_error();
        return fail(backing);
    }
    if (!update_status(ec, calls) || !check_size(m_fd, backing.get(), &m_info, ec, calls)) {
        return fail(backing);
    }
    // The kernel holds its own reference to the backing file.
    backing.reset();
    return true;
}

bool LoopDevice::update_status(std::error_code& ec, const kernel_calls& calls) {
    ec.clear();
    if (!used()) {
        ec = LoopError::DeviceFree;
        return false;
    }
    if (m_number_valid == 0) {
        ec = LoopError::DeviceNumberNotValid;
        return false;
    }
    return retry_request(m_fd, LOOP_SET_STATUS64, reinterpret_cast<std::uintptr_t>(&m_info), calls,
                         ec);
}

bool LoopDevice::drop(std::error_code& ec, const kernel_calls& calls) {
    ec.clear();
    if (!used()) {
        ec = LoopError::DeviceFree;
        return false;
    }
    if (!retry_request(m_fd, LOOP_CLR_FD, 0, calls, ec)) {
        return false;
    }
    m_backing_file.clear();
    return true;
}

bool LoopDevice::restore(const std::string& device_path, std::error_code& ec) {
    ec.clear();
    if (used() || m_number_valid != 0) {
        ec = LoopError::DeviceBusy;
        return false;
    }
    // Only a node under the loop prefix with a number of zero or more names a loop device.
    if (device_path.size() <= kNodePrefixLength ||
        device_path.compare(0, kNodePrefixLength, kNodePrefix) != 0) {
        ec = LoopError::DeviceNameNotValid;
        return false;
    }
    long number = -1;
    try {
        number = std::stol(device_path.substr(kNodePrefixLength));
    } catch (const std::invalid_argument&) {
        number = -1;
    } catch (const std::out_of_range&) {
        number = -1;
    }
    if (number < 0) {
        ec = LoopError::DeviceNameNotValid;
        return false;
    }
    m_number = number;
    m_device_name = device_path;

    errno = 0;
    m_fd = ::open(m_device_name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (m_fd < 0) {
        ec = last_error();
        return false;
    }
    if (!get_status(m_fd, &m_info, ec)) {
        return false;
    }
    ::close(std::exchange(m_fd, -1));
    m_fd = get_loop_device_fd(number, m_device_name, &m_info, ec);
    return m_fd >= 0;
}

const std::string& LoopDevice::get_backing_file() {
    if (m_backing_file.empty() && m_info.lo_file_name[0] != 0) {
        const char* name = reinterpret_cast<const char*>(m_info.lo_file_name);
        m_backing_file.assign(name, ::strnlen(name, LO_NAME_SIZE));
    }
    return m_backing_file;
}

std::string build_loop_dev_name(long number) {
    return number < 0 ? std::string() : kNodePrefix + std::to_string(number);
}

int get_loop_device_fd(long number, const std::string& path, const loop_info64* info,
                       std::error_code& ec, const kernel_calls& calls) {
    ec.clear();
    if (number < 0) {
        ec = LoopError::DeviceNumberNotSet;
        return -1;
    }
    const bool read_only = info != nullptr && flag_set(*info, LO_FLAGS_READ_ONLY);
    errno = 0;
    const int fd =
        calls.open(path.c_str(), (read_only ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        ec = last_error();
        return -1;
    }
    return fd;
}

bool get_status(int fd, loop_info64* info, std::error_code& ec) {
    ec.clear();
    errno = 0;
    if (::ioctl(fd, LOOP_GET_STATUS64, info) < 0) {
        ec = last_error();
        return false;
    }
    return true;
}

bool check_size(int loop_fd, int file_fd, const loop_info64* info, std::error_code& ec,
                const kernel_calls& calls) {
    ec.clear();
    struct stat file {};
    errno = 0;
    if (::fstat(file_fd, &file) != 0) {
        ec = last_error();
        return false;
    }
    std::uint64_t expected = 0;
    if (S_ISBLK(file.st_mode)) {
        errno = 0;
        expected = block_dev_get_size(file_fd);
        if (expected == 0) {
            ec = last_error();
            return false;
        }
    } else {
        expected = static_cast<std::uint64_t>(file.st_size);
    }
    if (info->lo_offset != 0) {
        expected = expected > info->lo_offset ? expected - info->lo_offset : 0;
    }
    if (info->lo_sizelimit != 0 && info->lo_sizelimit < expected) {
        expected = info->lo_sizelimit;
    }

    errno = 0;
    std::uint64_t actual = block_dev_get_size(loop_fd);
    if (actual == 0) {
        ec = last_error();
        return false;
    }
    expected -= expected % kSector;
    if (expected == actual) {
        return true;
    }
    if (!retry_request(loop_fd, LOOP_SET_CAPACITY, 0, calls, ec)) {
        return false;
    }
    errno = 0;
    actual = block_dev_get_size(loop_fd);
    if (actual == 0) {
        ec = last_error();
        return false;
    }
    if (expected != actual) {
        ec.assign(ERANGE, std::system_category());
        return false;
    }
    return true;
}

std::uint64_t block_dev_get_size(int fd) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) >= 0) {
        return bytes;
    }
    unsigned long sectors = 0;
    if (::ioctl(fd, BLKGETSIZE, &sectors) >= 0) {
        return static_cast<std::uint64_t>(sectors) * kSector;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return 0;
    }
    if (S_ISREG(info.st_mode)) {
        return static_cast<std::uint64_t>(info.st_size);
    }
    if (S_ISBLK(info.st_mode)) {
        return find_size(fd);
    }
    return 0;
}

std::uint64_t find_size(int fd) {
    constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
    constexpr std::uint64_t kDoublingEnd = (std::uint64_t{1} << 63) - 1;
    std::uint64_t low = 0;
    std::uint64_t high = 1024;
    while (valid_offset(fd, static_cast<long>(high))) {
        if (high == kLargest) {
            return kLargest;
        }
        low = high;
        high = high >= kDoublingEnd ? kLargest : high * 2;
    }
    while (low < high - 1) {
        const std::uint64_t mid = low + (high - low) / 2;
        if (valid_offset(fd, static_cast<long>(mid))) {
            low = mid;
        } else {
            high = mid;
        }
    }
    valid_offset(fd, 0);
    return low + 1;
}

bool valid_offset(int fd, long offset) {
    char byte = 0;
    return ::lseek(fd, offset, SEEK_SET) >= 0 && ::read(fd, &byte, 1) > 0;
}

bool retry_request(int fd, unsigned long request, std::uintptr_t arg, const kernel_calls& calls,
                   std::error_code& ec) {
    ec.clear();
    for (int retries = 0;; ++retries) {
        errno = 0;
        if (calls.request(fd, request, arg) >= 0) {
            return true;
        }
        const int error = errno != 0 ? errno : EIO;
        if (error != EAGAIN || retries == kRequestRetries) {
            ec.assign(-error, std::system_category());
            return false;
        }
        calls.pause(kRetryPause);
    }
}

}  // namespace sys
