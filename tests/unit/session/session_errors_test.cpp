#include <gtest/gtest.h>

#include <utility>

#include "session/network_error.h"
#include "session/transfer_error.h"

namespace {

TEST(NetworkError, CategoryNameAndMessages) {
    EXPECT_STREQ(network_category().name(), "network");
    const std::pair<network_error, const char*> rows[] = {
        {network_error::success, "Success"},
        {network_error::disconnected, "Disconnected"},
        {network_error::message_not_received, "Message not received"},
        {network_error::message_not_processed,
         "Message not processed due to no handler or service not running or timeout"},
        {network_error::invalid_argument, "Invalid argument"},
    };
    for (const auto& [value, text] : rows) {
        std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &network_category());
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(make_error_code(network_error::disconnected).value(), 0x10000);
    EXPECT_EQ(make_error_code(network_error::invalid_argument).value(), 0x10003);
}

TEST(NetworkError, UnlistedValueIsUnknown) {
    EXPECT_EQ(network_category().message(0x10004), "Unknown error: 65540");
    EXPECT_EQ(network_category().message(1), "Unknown error: 1");
}

TEST(NetworkError, ConditionBindsToSameCategory) {
    std::error_condition cond = make_error_condition(network_error::message_not_received);
    EXPECT_EQ(&cond.category(), &network_category());
    EXPECT_EQ(cond.value(), 0x10001);
}

TEST(TransferError, CategoryNameAndMessages) {
    EXPECT_STREQ(transfer_category().name(), "transfer");
    const std::pair<int, const char*> rows[] = {
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
    };
    for (const auto& [value, text] : rows) {
        std::error_code ec = static_cast<transfer_error>(value);
        EXPECT_EQ(&ec.category(), &transfer_category());
        EXPECT_EQ(ec.value(), value);
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(transfer_category().message(0x20015), "Unknown error: 131093");
}

TEST(TransferError, NamedValuesMatchTheirCodes) {
    EXPECT_EQ(make_error_code(transfer_error::bad_data_format).value(), 0x2000f);
    EXPECT_EQ(make_error_code(transfer_error::data_corrupted).value(), 0x20014);
    EXPECT_EQ(make_error_code(transfer_error::not_established).value(), 0x20007);
    EXPECT_EQ(make_error_condition(transfer_error::bad_header).value(), 0x2000b);
}

}  // namespace
