#include "config/config_manager_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {256, N_("Too many arguments")},
    {257, N_("Parameter already exists")},
    {258, N_("Not supported symbol")},
    {259, N_("Config file parse error")},
    {260, N_("Insertion failure")},
};

}  // namespace

const std::error_category& config_category() noexcept {
    static const foundation::table_category category("config manager", kMessages);
    return category;
}

std::error_code make_error_code(config_manager_error e) noexcept {
    return {static_cast<int>(e), config_category()};
}

std::error_condition make_error_condition(config_manager_error e) noexcept {
    return {static_cast<int>(e), config_category()};
}
