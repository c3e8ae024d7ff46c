#pragma once

#include <linux/loop.h>

#include <cstdint>
#include <string>
#include <system_error>

#include "system/kernel_calls.h"
#include "system/loop_error.h"

namespace sys {

// The handle of one loop device: a device number, an open descriptor of its node and the
// status record sent to the kernel. The handle never detaches or frees the kernel device on
// its own: an attached device outlives the handle (the mounted disk keeps running between
// requests) until drop() detaches it. The device is not set to clear itself when its last
// descriptor closes, for the same reason.
class LoopDevice {
  public:
    // An empty handle: no number, no descriptor.
    LoopDevice() noexcept : LoopDevice(-1, -1) {}
    // A handle for number owning descriptor fd (either may be -1); the number counts as not
    // handed out by the kernel.
    LoopDevice(long number, int fd) noexcept;
    // Closes the descriptor; the backing file stays attached.
    ~LoopDevice();

    // Takes over every field; the source becomes empty, so one handle owns the descriptor.
    LoopDevice(LoopDevice&& other) noexcept;
    LoopDevice& operator=(LoopDevice&& other) noexcept;
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    // Asks the loop control node for a free number: a handle with it and no descriptor, or an
    // empty handle with errno. The number is not reserved until a file is attached to it.
    static LoopDevice get_free(std::error_code& ec);
    // The same into device; a used handle is refused with DeviceBusy and left unchanged.
    static bool get_free(LoopDevice& device, std::error_code& ec);
    // Creates the device number (a negative one gives DeviceNumberNotSet).
    static LoopDevice add(long number, std::error_code& ec);
    // Creates the device of device's number, which the kernel must have handed out.
    static bool add(LoopDevice& device, std::error_code& ec);
    // Frees the device of device's number, which the kernel must have handed out; the handle
    // loses its number.
    static bool remove(LoopDevice& device, std::error_code& ec);

    // Stores the file to attach; DeviceBusy while the handle is used.
    bool set_backing_file(const std::string& path, std::error_code& ec);
    // Set or clear the read-only and direct-I/O flags of the status record.
    LoopDevice& set_read_only(bool on) noexcept;
    LoopDevice& set_dio(bool on) noexcept;

    // Attaches the backing file to the handed-out number, sends the status and checks the
    // size. A file that may not be written is attached read-only. On failure the backing
    // file is forgotten; a failure after the attach leaves the file attached (drop() frees
    // it). The backing file's last path component is never a followed link.
    bool setup(std::error_code& ec, const kernel_calls& calls = kernel_calls::real());
    // Sends the status record to the kernel, retrying while it answers EAGAIN. DeviceFree
    // without a descriptor, DeviceNumberNotValid for a number not handed out.
    bool update_status(std::error_code& ec, const kernel_calls& calls = kernel_calls::real());
    // Detaches the backing file, retrying while the kernel answers EAGAIN. DeviceFree
    // without a descriptor. The descriptor and the number stay.
    bool drop(std::error_code& ec, const kernel_calls& calls = kernel_calls::real());
    // Rebuilds the handle of an existing device from its node path ("/dev/loop" followed by
    // a number of zero or more): opens it and reads its status. A used handle or one with a
    // handed-out number gives DeviceBusy, any other path DeviceNameNotValid. The result can
    // be dropped but not set up again.
    bool restore(const std::string& device_path, std::error_code& ec);

    // True while the handle holds a descriptor.
    bool used() const noexcept { return m_fd >= 0; }
    // The backing file; for a restored handle the name the kernel recorded, if any.
    const std::string& get_backing_file();
    const std::string& get_device_name() const noexcept { return m_device_name; }
    // The device number, -1 for none.
    long get_number() const noexcept { return static_cast<long>(m_number); }
    // The status record as last sent to or read from the kernel.
    const loop_info64& get_info() const noexcept { return m_info; }

  private:
    void reset() noexcept;

    std::int64_t m_number;
    std::int32_t m_fd;
    std::uint32_t m_number_valid;
    loop_info64 m_info;
    std::string m_backing_file;
    std::string m_device_name;
};

// "/dev/loop" followed by number, or an empty string for a negative number.
std::string build_loop_dev_name(long number);

// Opens the node at path (read-only when info's flags say so, else read-write; never a
// followed link): a descriptor, or -1 with errno (DeviceNumberNotSet for a negative number).
int get_loop_device_fd(long number, const std::string& path, const loop_info64* info,
                       std::error_code& ec, const kernel_calls& calls = kernel_calls::real());

// Reads the device's status record into info; errno on failure.
bool get_status(int fd, loop_info64* info, std::error_code& ec);

// True when the device at loop_fd is as large as the file at file_fd (less info's offset,
// within its size limit, rounded down to 512 bytes), after asking the kernel to re-read the
// capacity once when it is not. ERANGE when the sizes still differ, errno when one cannot
// be read.
bool check_size(int loop_fd, int file_fd, const loop_info64* info, std::error_code& ec,
                const kernel_calls& calls = kernel_calls::real());

// The size in bytes of the device or file at fd, or 0 when none can be found.
std::uint64_t block_dev_get_size(int fd);

// The size of the device at fd found by reading single bytes; leaves the file position
// near the start.
std::uint64_t find_size(int fd);

// True when one byte can be read at offset.
bool valid_offset(int fd, long offset);

// Makes request on fd under the retry policy: while the kernel answers EAGAIN it is asked
// again after 250 ms, at most nine times in all. A final failure is the negated errno in the
// system category.
bool retry_request(int fd, unsigned long request, std::uintptr_t arg, const kernel_calls& calls,
                   std::error_code& ec);

}  // namespace sys
