#include "dbus/server_error.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(ServerError, CategoryNameAndMessages) {
    EXPECT_STREQ(server_category().name(), "DBus server");
    const std::pair<int, const char*> rows[] = {
        {0, "Success"},
        {4096, "Client not connected"},
        {4097, "Invalid connection"},
        {4098, "Listening path not set"},
        {4099, "Object path already in use"},
        {4100, "Interface already in use"},
        {4101, "Bus already in use"},
        {4102, "Invalid name"},
        {4103, "Invalid sender id"},
        {4104, "Client register failure"},
        {4105, "Client isn't registered"},
        {4106, "Internal error"},
    };
    for (const auto& [value, text] : rows) {
        const std::error_code ec = static_cast<server_error>(value);
        EXPECT_EQ(&ec.category(), &server_category());
        EXPECT_EQ(ec.message(), text) << value;
        EXPECT_TRUE(ec == make_error_condition(static_cast<server_error>(value)));
    }
    EXPECT_EQ(server_category().message(4107), "Unknown error: 4107");
}

}  // namespace
