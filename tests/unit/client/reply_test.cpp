#include "client/reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client/client_error.h"
#include "client/service_error.h"
#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "database/serializer.h"
#include "session/transfer_error.h"
#include "system/cast.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes frame(std::initializer_list<bytes> items) {
    Serializer s;
    for (const bytes& item : items) {
        s.push_back(item);
    }
    return s.serialize();
}

bytes text(const std::string& t) {
    return cast::to_vector(t);
}

// A full reply as the service builds it.
bytes full_reply(std::uint32_t status, std::int32_t value, const std::string& message,
                 const std::string& category, const bytes& payload = {}) {
    return frame({frame({cast::to_vector(status), {}}),
                  frame({cast::to_vector(value), text(message), text(category)}), payload});
}

TEST(ReplyDecoding, ReadsTheServiceFramesIntoCodesOfTheServiceCategories) {
    // The 32-byte success reply, byte for byte.
    const bytes success = {0x18, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x0C, 0, 0, 0,
                           0,    0, 0, 0, 4, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0};
    const bytes disk_missing = full_reply(255, 8199, "Disk doesn't exist", "ztctl");
    ASSERT_EQ(disk_missing.size(), 87u);
    const auto failure = [](std::int32_t value, const std::string& text,
                            const std::string& category) {
        return full_reply(255, value, text, category);
    };
    const struct {
        const char* name;
        bytes frame;
        std::error_code error;
        bytes payload = {};
    } rows[] = {
        {"short success", success, {}},
        {"disk missing", disk_missing, ztctl_error::disk_not_exist},
        {"payload", full_reply(0, 0, "Success", "ztctl", {1, 2, 3}), {}, {1, 2, 3}},
        {"database", failure(1029, "User not found", "database"), database_error::user_not_found},
        {"transfer", failure(0x20014, "Data corrupted", "transfer"),
         transfer_error::data_corrupted},
        {"errno", failure(2, "No such file or directory", "generic"),
         std::make_error_code(std::errc::no_such_file_or_directory)},
        {"failure without an error", failure(0, "Success", "ztctl"), client_error::no_reason},
        {"status outside the protocol", full_reply(7, 0, "", ""), client_error::bad_reply},
    };
    for (const auto& row : rows) {
        client::service_reply reply;
        ASSERT_TRUE(client::decode_reply(row.frame, reply)) << row.name;
        EXPECT_EQ(reply.error(), row.error) << row.name;
        EXPECT_EQ(reply.payload, row.payload) << row.name;
    }
}

TEST(ReplyDecoding, GarbledFramesNeverReadAsSuccess) {
    const bytes good = full_reply(0, 0, "", "");
    const struct {
        const char* name;
        bytes frame;
    } rows[] = {
        {"empty", {}},
        {"twelve bytes", bytes(good.begin(), good.begin() + 12)},
        {"cut short", bytes(good.begin(), good.end() - 1)},
        {"status of three bytes", frame({frame({{0, 0, 0}, {}})})},
        {"status item not a frame", frame({{0, 0, 0, 0}})},
    };
    for (const auto& row : rows) {
        client::service_reply reply;
        reply.status = client::kReplyFailure;
        EXPECT_FALSE(client::decode_reply(row.frame, reply)) << row.name;
        EXPECT_EQ(reply.status, client::kReplyFailure) << row.name << ": changed on failure";
    }
}

TEST(ReplyDecoding, ForeignCategoriesKeepTheServiceNameAndACleanText) {
    client::service_reply reply;
    ASSERT_TRUE(
        client::decode_reply(full_reply(255, 0x8001, "Loop\x1b[2J busy\n", "loop device"), reply));
    const std::error_code ec = reply.error();
    EXPECT_TRUE(client::is_remote(ec));
    EXPECT_STREQ(ec.category().name(), "loop device");
    EXPECT_EQ(ec.value(), 0x8001);
    EXPECT_EQ(ec.message(), "Loop?[2J busy?");
    EXPECT_EQ(ec.category().message(0x8002), "Unknown error: 32770");
    // The same name is the same category, so codes compare equal.
    EXPECT_EQ(client::service_error(0x8001, "loop device", "other"), ec);
    EXPECT_FALSE(client::is_remote(client::service_error(8199, "ztctl", "")));
}

}  // namespace
