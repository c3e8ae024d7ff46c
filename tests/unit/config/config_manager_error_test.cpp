#include "config/config_manager_error.h"

#include <gtest/gtest.h>

namespace {

TEST(ConfigManagerError, CategoryNameAndMessages) {
    EXPECT_STREQ(config_category().name(), "config manager");
    const std::pair<config_manager_error, const char*> rows[] = {
        {config_manager_error::success, "Success"},
        {config_manager_error::too_many_arguments, "Too many arguments"},
        {config_manager_error::parameter_exists, "Parameter already exists"},
        {config_manager_error::not_supported_symbol, "Not supported symbol"},
        {config_manager_error::parse_error, "Config file parse error"},
        {config_manager_error::insertion_failure, "Insertion failure"},
    };
    for (const auto& [value, text] : rows) {
        std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &config_category());
        EXPECT_EQ(&make_error_condition(value).category(), &config_category());
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(make_error_code(config_manager_error::parse_error).value(), 259);
    EXPECT_EQ(config_category().message(261), "Unknown error: 261");
    EXPECT_EQ(config_category().message(-3), "Unknown error: -3");
}

}  // namespace
