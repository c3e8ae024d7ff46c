#include "dbus/server_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {4096, N_("Client not connected")},
    {4097, N_("Invalid connection")},
    {4098, N_("Listening path not set")},
    {4099, N_("Object path already in use")},
    {4100, N_("Interface already in use")},
    {4101, N_("Bus already in use")},
    {4102, N_("Invalid name")},
    {4103, N_("Invalid sender id")},
    {4104, N_("Client register failure")},
    {4105, N_("Client isn't registered")},
    {4106, N_("Internal error")},
};

}  // namespace

const std::error_category& server_category() noexcept {
    static const foundation::table_category category("DBus server", kMessages);
    return category;
}

std::error_code make_error_code(server_error e) noexcept {
    return {static_cast<int>(e), server_category()};
}

std::error_condition make_error_condition(server_error e) noexcept {
    return {static_cast<int>(e), server_category()};
}
