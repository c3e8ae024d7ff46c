#include "dbus/reply_builder.h"

#include <gtest/gtest.h>
#include <sys/random.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "../database/freed_memory.h"
#include "daemon/ztctl_error.h"
#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes le32(std::uint32_t v) {
    return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
}

bytes text(const std::string& s) {
    return {s.begin(), s.end()};
}

bytes frame(std::initializer_list<bytes> items) {
    Serializer s;
    for (const auto& item : items) {
        s.push_back(item);
    }
    return s.serialize();
}

// Clients decode these bytes with their own reader, so every byte is fixed.
TEST(ReplyFrames, ShortAndErrorRepliesAreByteExact) {
    const bytes success = {0x18, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0x0C, 0, 0, 0,
                           0,    0, 0, 0, 4, 0, 0, 0, 0,    0, 0, 0, 0,    0, 0, 0};
    EXPECT_EQ(reply_builder::success(), success);
    for (const auto& [reply, value] :
         {std::pair{reply_builder::resp_true(), 1u}, std::pair{reply_builder::resp_false(), 2u},
          std::pair{reply_builder::failure(), 255u}}) {
        bytes expected = success;
        expected[24] = static_cast<unsigned char>(value);
        EXPECT_EQ(reply, expected) << value;
    }

    const bytes disk_missing = reply_builder(ztctl_error::disk_not_exist).obtain();
    EXPECT_EQ(disk_missing.size(), 87u);
    EXPECT_EQ(disk_missing, frame({frame({le32(255), {}}),
                                   frame({le32(8199), text("Disk doesn't exist"), text("ztctl")}),
                                   {}}));
}

TEST(ReplyFrames, ReaderRecoversWhatTheBuilderWrote) {
    struct row {
        bytes wire;
        std::uint32_t status;
        std::string info;
        std::int32_t error;
        std::string message, category;
        bytes payload;
    };
    const std::error_code none;
    const std::string no_error = none.message();
    using rb = reply_builder;
    using code = reply_status_code;
    const auto enoent = std::make_error_code(std::errc::no_such_file_or_directory);
    // clang-format off
    const row rows[] = {
        {rb(code::success, bytes{1, 2, 3}).obtain(), 0, "", 0, "", "", {1, 2, 3}},
        {rb(code::false_value, std::string("why")).obtain(), 2, "why", 0, "", "", {}},
        {rb(enoent).obtain(), 255, "", 2, "No such file or directory", "generic", {}},
        // A cleared code still makes a failure reply, carrying the no-error text.
        {rb(none).obtain(), 255, "", 0, no_error, "system", {}},
        // A short status reply read as a full one keeps the defaults of the missing items.
        {reply_builder::resp_true(), 1, "", 0, "", "", {}},
        // A status value item of the wrong width reads as 0.
        {frame({frame({bytes{7, 0}, text("i")})}), 0, "i", 0, "", "", {}},
    };
    // clang-format on
    for (const auto& r : rows) {
        const reply_builder read(r.wire);
        EXPECT_EQ(std::tuple(read.status().value(), read.status().info(), read.error().value(),
                             read.error().message(), read.error().category(), read.buffer()),
                  std::tuple(r.status, r.info, r.error, r.message, r.category, r.payload));
        EXPECT_EQ(static_cast<bool>(read.error()), r.error != 0);
    }
}

TEST(ReplyStatus, CodeMapsUnknownValuesAndIncrementCycles) {
    for (const auto& [stored, code] :
         {std::pair{0u, reply_status_code::success}, std::pair{3u, reply_status_code::other},
          std::pair{7u, reply_status_code::other}, std::pair{255u, reply_status_code::failure}}) {
        reply_status status;
        status.deserialize(frame({le32(stored), {}}));
        EXPECT_EQ(status.code(), code) << stored;
    }

    reply_status_code code = reply_status_code::success;
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 6; ++i) {
        seen.push_back(static_cast<std::uint32_t>(code++));
    }
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 1, 2, 3, 255, 0}));
    code = static_cast<reply_status_code>(42);
    EXPECT_EQ(++code, reply_status_code::failure);
}

}  // namespace

namespace {

// A reply's payload may be key material: the builder wipes it before the memory goes back,
// when it is destroyed and when a received frame replaces it.
TEST(ReplySecrets, PayloadIsWipedBeforeItIsFreed) {
    bytes secret(48);
    ASSERT_EQ(::getrandom(secret.data(), secret.size(), 0), static_cast<ssize_t>(secret.size()));
    const auto leaks = [&](const std::function<void()>& act) {
        // The pattern list is built before the watch starts: its own temporaries do not count.
        std::vector<bytes> watched = {secret};
        testing_memory::freed_memory_probe probe(std::move(watched));
        act();
        probe.stop();
        return probe.hits();
    };
    auto builder = std::make_unique<reply_builder>(reply_status_code::success, bytes(secret));
    EXPECT_EQ(leaks([&] { builder.reset(); }), 0u) << "destroyed";

    reply_builder reader(reply_status_code::success, bytes(secret));
    const bytes frame = reply_builder(reply_status_code::success, bytes(4096, 0x5A)).obtain();
    EXPECT_EQ(leaks([&] { reader.pass(frame); }), 0u) << "replaced by a received frame";

    reply_builder assigned(reply_status_code::success, bytes(secret));
    reply_builder replacement(reply_status_code::success, bytes(4096, 0x5A));
    EXPECT_EQ(leaks([&] { assigned = std::move(replacement); }), 0u) << "assigned to";
}

}  // namespace
