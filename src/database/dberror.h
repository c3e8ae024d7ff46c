#pragma once

#include <system_error>

// Errors of the account database, category "database": the entry rules of the store and
// the integrity check of the database file.
enum class database_error {
    success = 0,
    admin_exists = 1024,
    admin_missing = 1025,
    last_admin = 1026,
    user_id_exists = 1027,
    user_name_exists = 1028,
    user_not_found = 1029,
    access_denied = 1030,
    permission_denied = 1031,
    uuid_not_found = 1032,
    container_registered = 1033,
    corrupted = 1034,
    failure = 1035,
};

// The one "database" category instance.
const std::error_category& database_category() noexcept;

std::error_code make_error_code(database_error e) noexcept;
std::error_condition make_error_condition(database_error e) noexcept;

template <>
struct std::is_error_code_enum<database_error> : std::true_type {};
