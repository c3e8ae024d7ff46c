#include "daemon/ztctl_error.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(ZtctlError, CategoryNameAndMessages) {
    EXPECT_STREQ(app_error_category().name(), "ztctl");
    const std::pair<ztctl_error, const char*> rows[] = {
        {ztctl_error::success, "Success"},
        {ztctl_error::session_not_open_or_unsafe, "Session is not open or unsafe"},
        {ztctl_error::session_already_open, "Session is already open"},
        {ztctl_error::session_not_established, "Session isn't established"},
        {ztctl_error::mount_request_error, "Unknown error: 8195"},
        {ztctl_error::invalid_request_format, "Invalid request format"},
        {ztctl_error::disk_not_created, "Disk not created"},
        {ztctl_error::disk_already_created, "Disk already created"},
        {ztctl_error::disk_not_exist, "Disk doesn't exist"},
        {ztctl_error::disk_already_mounted, "Disc is already mounted"},
        {ztctl_error::disk_unmounted, "Disk is unmounted"},
        {ztctl_error::filesystem_not_supported, "Filesystem isn't supported"},
        {ztctl_error::mount_directory_not_exist, "Mounted directory doesn't exist"},
        {ztctl_error::mount_failure, "Mount failure"},
        {ztctl_error::unmount_failure, "Unmount failure"},
        {ztctl_error::kernel_module_not_loaded, "Kernel module not loaded"},
        {ztctl_error::hardened_mode, "Couldn't work in hardened mode"},
        {ztctl_error::service_file_not_found, "Service's file not found"},
        {ztctl_error::admin_has_no_disk, "Admin doesn't have a disk"},
        {ztctl_error::request_not_supported, "Request not supported"},
        {ztctl_error::user_not_exist, "User doesn't exist"},
        {ztctl_error::user_exists, "User exists"},
    };
    for (const auto& [value, text] : rows) {
        const std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &app_error_category());
        EXPECT_EQ(ec.message(), text) << static_cast<int>(value);
        EXPECT_TRUE(ec == make_error_condition(value)) << static_cast<int>(value);
    }
    EXPECT_EQ(static_cast<int>(ztctl_error::hardened_mode), 8207);  // codes travel to clients
    for (int outside : {8191, 8213, -1}) {
        EXPECT_EQ(app_error_category().message(outside),
                  "Unknown error: " + std::to_string(outside));
    }
}

}  // namespace
