#include "database/dberror.h"

#include <gtest/gtest.h>

namespace {

TEST(DatabaseError, CategoryNameAndMessages) {
    EXPECT_STREQ(database_category().name(), "database");
    const std::pair<database_error, const char*> rows[] = {
        {database_error::success, "Success"},
        {database_error::admin_exists, "Admin with this name already exists"},
        {database_error::admin_missing, "Admin with this name is missing"},
        {database_error::last_admin, "Should be at least one admin"},
        {database_error::user_id_exists, "User with this id already exists"},
        {database_error::user_name_exists, "User with this name already exists"},
        {database_error::user_not_found, "User not found"},
        {database_error::access_denied, "Access denied"},
        {database_error::permission_denied, "Permission denied"},
        {database_error::uuid_not_found, "UUID not found"},
        {database_error::container_registered, "Container is already registered"},
        {database_error::corrupted, "Database corrupted"},
        {database_error::failure, "Failure"},
    };
    for (const auto& [value, text] : rows) {
        std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &database_category());
        EXPECT_EQ(ec.message(), text) << static_cast<int>(value);
    }
}

TEST(DatabaseError, ValuesAreTheWireNumbers) {
    EXPECT_EQ(std::error_code(database_error::admin_exists).value(), 1024);
    EXPECT_EQ(std::error_code(database_error::corrupted).value(), 1034);
    EXPECT_EQ(std::error_code(database_error::failure).value(), 1035);
}

TEST(DatabaseError, UnlistedValueIsUnknown) {
    EXPECT_EQ(database_category().message(1036), "Unknown error: 1036");
    EXPECT_EQ(database_category().message(1023), "Unknown error: 1023");
}

TEST(DatabaseError, ConditionBindsToSameCategory) {
    std::error_condition cond = make_error_condition(database_error::user_not_found);
    EXPECT_EQ(&cond.category(), &database_category());
    EXPECT_EQ(cond.value(), 1029);
}

}  // namespace
