#pragma once

#include <system_error>

// The service's own errors, category "ztctl". Handlers send them to clients inside error
// replies and the daemon logs them; clients identify them by value and category name.
enum class ztctl_error {
    success = 0,
    session_not_open_or_unsafe = 8192,
    session_already_open = 8193,
    session_not_established = 8194,
    mount_request_error = 8195,  // has no text of its own: reads "Unknown error: 8195"
    invalid_request_format = 8196,
    disk_not_created = 8197,
    disk_already_created = 8198,
    disk_not_exist = 8199,
    disk_already_mounted = 8200,
    disk_unmounted = 8201,
    filesystem_not_supported = 8202,
    mount_directory_not_exist = 8203,
    mount_failure = 8204,
    unmount_failure = 8205,
    kernel_module_not_loaded = 8206,
    hardened_mode = 8207,
    service_file_not_found = 8208,
    admin_has_no_disk = 8209,
    request_not_supported = 8210,
    user_not_exist = 8211,
    user_exists = 8212,
};

// The one "ztctl" category instance.
const std::error_category& app_error_category() noexcept;

std::error_code make_error_code(ztctl_error e) noexcept;
std::error_condition make_error_condition(ztctl_error e) noexcept;

template <>
struct std::is_error_code_enum<ztctl_error> : std::true_type {};
