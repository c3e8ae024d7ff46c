#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "session/network_error.h"
#include "session/transfer_error.h"

namespace {

// Every listed value of category E reads its own message; an unlisted one is unknown.
template <typename E>
void expect_messages(const std::error_category& category, const char* name,
                     std::initializer_list<std::pair<int, const char*>> rows, int unlisted) {
    EXPECT_STREQ(category.name(), name);
    for (const auto& [value, text] : rows) {
        const std::error_code ec = static_cast<E>(value);
        EXPECT_EQ(&ec.category(), &category);
        EXPECT_EQ(ec.value(), value);
        EXPECT_EQ(ec.message(), text);
        EXPECT_EQ(&make_error_condition(static_cast<E>(value)).category(), &category);
    }
    EXPECT_EQ(category.message(unlisted), "Unknown error: " + std::to_string(unlisted));
}

TEST(SessionErrors, NetworkCategoryMessages) {
    expect_messages<network_error>(
        network_category(), "network",
        {{0, "Success"},
         {0x10000, "Disconnected"},
         {0x10001, "Message not received"},
         {0x10002, "Message not processed due to no handler or service not running or timeout"},
         {0x10003, "Invalid argument"}},
        0x10004);
}

TEST(SessionErrors, TransferCategoryMessages) {
    expect_messages<transfer_error>(
        transfer_category(), "transfer",
        {
            {0, "Success"},
            {0x20000, "Initialize failure"},
            {0x20001, "Object not initialized"},
            {0x20002, "Current session not authorized"},
            {0x20003, "Session already established"},
            {0x20004, "Try establish non secured transfer_session"},
            {0x20005, "Try establish non authenticated transfer_session"},
            {0x20006, "Try establish authenticated transfer_session"},
            {0x20007, "Session not established"},
            {0x20008, "Session not secured"},
            {0x20009, "Session is already authenticated"},
            {0x2000a, "Protocol id has invalid type"},
            {0x2000b, "Bad header"},
            {0x2000c, "Bad metadata"},
            {0x2000d, "Bad status"},
            {0x2000e, "Method not confirmed"},
            {0x2000f, "Bad data format"},
            {0x20010, "Invalid argument"},
            {0x20011, "Invalid start condition"},
            {0x20012, "Invalid setup phase"},
            {0x20013, "Crypto service isn't ready"},
            {0x20014, "Data corrupted"},
        },
        0x20015);
}

}  // namespace
