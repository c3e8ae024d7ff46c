#include "session/network_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {0x10000, N_("Disconnected")},
    {0x10001, N_("Message not received")},
    {0x10002, N_("Message not processed due to no handler or service not running or timeout")},
    {0x10003, N_("Invalid argument")},
};

}  // namespace

const std::error_category& network_category() noexcept {
    static const foundation::table_category category("network", kMessages);
    return category;
}

std::error_code make_error_code(network_error e) noexcept {
    return {static_cast<int>(e), network_category()};
}

std::error_condition make_error_condition(network_error e) noexcept {
    return {static_cast<int>(e), network_category()};
}
