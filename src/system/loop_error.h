#pragma once

#include <system_error>

namespace sys {

// Errors of the loop device handle, category "loop device". Failed system calls keep errno
// in the system category (the retried requests its negated value).
enum class LoopError {
    Success = 0,
    BackingFileNotSet = 0x8000,
    DeviceNumberNotSet = 0x8001,
    DeviceNumberNotValid = 0x8002,
    DeviceNameNotValid = 0x8003,
    DeviceBusy = 0x8004,
    DeviceFree = 0x8005,
};

// The one "loop device" category instance.
const std::error_category& make_loop_category() noexcept;

std::error_code make_error_code(LoopError e) noexcept;
std::error_condition make_error_condition(LoopError e) noexcept;

}  // namespace sys

template <>
struct std::is_error_code_enum<sys::LoopError> : std::true_type {};
