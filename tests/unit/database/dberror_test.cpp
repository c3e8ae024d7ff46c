#include "database/dberror.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

TEST(DatabaseError, CategoryNameValuesAndMessages) {
    EXPECT_STREQ(database_category().name(), "database");
    const std::tuple<database_error, int, const char*> rows[] = {
        {database_error::success, 0, "Success"},
        {database_error::admin_exists, 1024, "Admin with this name already exists"},
        {database_error::admin_missing, 1025, "Admin with this name is missing"},
        {database_error::last_admin, 1026, "Should be at least one admin"},
        {database_error::user_id_exists, 1027, "User with this id already exists"},
        {database_error::user_name_exists, 1028, "User with this name already exists"},
        {database_error::user_not_found, 1029, "User not found"},
        {database_error::access_denied, 1030, "Access denied"},
        {database_error::permission_denied, 1031, "Permission denied"},
        {database_error::uuid_not_found, 1032, "UUID not found"},
        {database_error::container_registered, 1033, "Container is already registered"},
        {database_error::corrupted, 1034, "Database corrupted"},
        {database_error::failure, 1035, "Failure"},
    };
    for (const auto& [value, number, text] : rows) {
        const std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &database_category());
        EXPECT_EQ(ec.value(), number) << text;
        EXPECT_EQ(ec.message(), text) << number;
        EXPECT_EQ(&make_error_condition(value).category(), &database_category());
    }
    EXPECT_EQ(database_category().message(1036), "Unknown error: 1036");
    EXPECT_EQ(database_category().message(1023), "Unknown error: 1023");
}

}  // namespace
