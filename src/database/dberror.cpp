#include "database/dberror.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {1024, N_("Admin with this name already exists")},
    {1025, N_("Admin with this name is missing")},
    {1026, N_("Should be at least one admin")},
    {1027, N_("User with this id already exists")},
    {1028, N_("User with this name already exists")},
    {1029, N_("User not found")},
    {1030, N_("Access denied")},
    {1031, N_("Permission denied")},
    {1032, N_("UUID not found")},
    {1033, N_("Container is already registered")},
    {1034, N_("Database corrupted")},
    {1035, N_("Failure")},
};

}  // namespace

const std::error_category& database_category() noexcept {
    static const foundation::table_category category("database", kMessages);
    return category;
}

std::error_code make_error_code(database_error e) noexcept {
    return {static_cast<int>(e), database_category()};
}

std::error_condition make_error_condition(database_error e) noexcept {
    return {static_cast<int>(e), database_category()};
}
