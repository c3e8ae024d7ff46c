#include "daemon/ztctl_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

// 8195 is deliberately absent: clients know it as "Unknown error: 8195".
constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {8192, N_("Session is not open or unsafe")},
    {8193, N_("Session is already open")},
    {8194, N_("Session isn't established")},
    {8196, N_("Invalid request format")},
    {8197, N_("Disk not created")},
    {8198, N_("Disk already created")},
    {8199, N_("Disk doesn't exist")},
    {8200, N_("Disc is already mounted")},
    {8201, N_("Disk is unmounted")},
    {8202, N_("Filesystem isn't supported")},
    {8203, N_("Mounted directory doesn't exist")},
    {8204, N_("Mount failure")},
    {8205, N_("Unmount failure")},
    {8206, N_("Kernel module not loaded")},
    {8207, N_("Couldn't work in hardened mode")},
    {8208, N_("Service's file not found")},
    {8209, N_("Admin doesn't have a disk")},
    {8210, N_("Request not supported")},
    {8211, N_("User doesn't exist")},
    {8212, N_("User exists")},
};

}  // namespace

const std::error_category& app_error_category() noexcept {
    static const foundation::table_category category("ztctl", kMessages);
    return category;
}

std::error_code make_error_code(ztctl_error e) noexcept {
    return {static_cast<int>(e), app_error_category()};
}

std::error_condition make_error_condition(ztctl_error e) noexcept {
    return {static_cast<int>(e), app_error_category()};
}
