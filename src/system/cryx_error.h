#pragma once

#include <system_error>

// Errors of the encryption driver handle, category "cryx device". Failed system calls keep
// errno in the generic category.
enum class cryx_error {
    success = 0,
    device_name_not_set = 0x4000,
    managed_device_not_set = 0x4001,
};

// The one "cryx device" category instance.
const std::error_category& make_cryx_category() noexcept;

std::error_code make_error_code(cryx_error e) noexcept;
std::error_condition make_error_condition(cryx_error e) noexcept;

template <>
struct std::is_error_code_enum<cryx_error> : std::true_type {};
