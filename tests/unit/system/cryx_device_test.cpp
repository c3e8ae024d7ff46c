#include "system/cryx_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// A driver behind a scripted control node: it keeps a copy of every add record, leaves
// chosen_number in it and answers with error (0 for success).
struct scripted_driver {
    int error = 0;
    std::int32_t chosen_number = 0;
    std::vector<std::string> opened;
    std::vector<std::pair<unsigned long, std::uintptr_t>> requests;
    std::vector<bytes> records;

    sys::kernel_calls calls() {
        return {
            .open =
                [this](const char* path, int flags) {
                    opened.push_back(path);
                    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
                    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                },
            .request =
                [this](int, unsigned long request, std::uintptr_t arg) {
                    requests.emplace_back(request, arg);
                    if (request == 0x4C80) {
                        auto* record = reinterpret_cast<cryx_add_request*>(arg);
                        const auto* raw = reinterpret_cast<const unsigned char*>(record);
                        records.emplace_back(raw, raw + sizeof(*record));
                        if (error == 0 && record->number == -1) {
                            record->number = chosen_number;
                        }
                    }
                    errno = error;
                    return error == 0 ? 0 : -1;
                },
            .pause = [](std::chrono::milliseconds) {},
        };
    }
};

bool all_zero(const bytes& record, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (record[i] != 0) {
            return false;
        }
    }
    return true;
}

TEST(CryxError, CategoryNameAndMessages) {
    EXPECT_STREQ(make_cryx_category().name(), "cryx device");
    const std::pair<cryx_error, const char*> rows[] = {
        {cryx_error::success, "Success"},
        {cryx_error::device_name_not_set, "Cryx device name isn't set"},
        {cryx_error::managed_device_not_set, "Managed device name isn't set"},
    };
    for (const auto& [value, text] : rows) {
        const std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &make_cryx_category());
        EXPECT_EQ(&make_error_condition(value).category(), &make_cryx_category());
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(std::error_code(cryx_error::managed_device_not_set).value(), 0x4001);
    EXPECT_EQ(make_cryx_category().message(0x4002), "Unknown error: 16386");
}

// Keys of the wrong size leave the flag and key fields zero; a long path is cut to 64 bytes.
TEST(CryxAddRecord, PathFlagModeAndKeysAtTheirOffsets) {
    const std::string path = "/dev/loop" + std::string(61, '9');  // 70 characters
    cryx_device device;
    device.set_managed_device(path);
    EXPECT_FALSE(device.set_keys(bytes(16, 0xAA), bytes(32, 0xBB)));
    EXPECT_FALSE(device.set_keys(bytes(32, 0xAA), bytes(33, 0xBB)));
    scripted_driver driver;
    driver.chosen_number = 5;
    std::error_code ec;
    ASSERT_TRUE(device.add(ec, driver.calls())) << ec.message();
    EXPECT_EQ(driver.opened, std::vector<std::string>{"/dev/cryx-control"});
    const bytes& record = driver.records.at(0);
    ASSERT_EQ(record.size(), 4169u);
    EXPECT_EQ(bytes(record.begin(), record.begin() + 4), bytes(4, 0xFF));  // -1: driver chooses
    EXPECT_EQ(std::string(record.begin() + 4, record.begin() + 68), path.substr(0, 64));
    EXPECT_TRUE(all_zero(record, 68, 4169));  // rest of the path, keys flag, mode and keys
    EXPECT_EQ(device.get_device_name(), "/dev/cryx5");

    // With keys, and a number it keeps and sends again.
    bytes first(32), second(32);
    for (unsigned char i = 0; i < 32; ++i) {
        first[i] = i + 1;
        second[i] = 0x80 + i;
    }
    device.set_managed_device("/dev/loop3");
    ASSERT_TRUE(device.set_keys(first, second));
    ASSERT_TRUE(device.add(ec, driver.calls()));
    const bytes& keyed = driver.records.at(1);
    EXPECT_EQ(bytes(keyed.begin(), keyed.begin() + 4), (bytes{5, 0, 0, 0}));
    EXPECT_EQ(std::string(keyed.begin() + 4, keyed.begin() + 14), "/dev/loop3");
    EXPECT_TRUE(all_zero(keyed, 14, 4100));
    EXPECT_EQ(keyed[4100], 1);
    EXPECT_EQ(bytes(keyed.begin() + 4101, keyed.begin() + 4105), (bytes{2, 0, 0, 0}));
    EXPECT_EQ(bytes(keyed.begin() + 4105, keyed.begin() + 4137), second);
    EXPECT_EQ(bytes(keyed.begin() + 4137, keyed.end()), first);
    EXPECT_EQ(device.get_number(), 5);
}

TEST(CryxDevice, RemoveSendsTheNumberByValueAndForgetsTheDevice) {
    scripted_driver driver;
    std::error_code ec;
    cryx_device fresh;
    EXPECT_FALSE(fresh.remove(ec, driver.calls()));
    EXPECT_EQ(ec, cryx_error::device_name_not_set);
    EXPECT_FALSE(fresh.add(ec, driver.calls()));
    EXPECT_EQ(ec, cryx_error::managed_device_not_set);
    EXPECT_TRUE(driver.opened.empty());

    cryx_device device;
    ASSERT_TRUE(device.set_device_name("/dev/cryx12"));
    driver.error = EBUSY;
    EXPECT_FALSE(device.remove(ec, driver.calls()));
    EXPECT_EQ(ec, std::error_code(EBUSY, std::generic_category()));
    EXPECT_EQ(device.get_device_name(), "/dev/cryx12");

    driver.error = 0;
    ASSERT_TRUE(device.remove(ec, driver.calls()));
    EXPECT_EQ(driver.requests.back(), std::make_pair(0x4C81ul, std::uintptr_t{12}));
    EXPECT_EQ(device.get_number(), -1);
    EXPECT_EQ(device.get_device_name(), "");
}

TEST(CryxDevice, DeviceNamesAndNumbers) {
    cryx_device device;
    EXPECT_EQ(device.get_device_name(), "");
    for (const char* bad : {"/dev/cryx", "/dev/cryxq", "/dev/cryx-4", "/dev/cryx99999999999"}) {
        EXPECT_FALSE(device.set_device_name(bad)) << bad;
        EXPECT_EQ(device.get_number(), -1);
    }
    ASSERT_TRUE(device.set_device_name("/dev/cryx3"));
    EXPECT_FALSE(device.set_device_name("/dev/cryx4"));
    EXPECT_EQ(device.get_device_name(), "/dev/cryx3");

    EXPECT_EQ(parse_device_number("/dev/cryx"), -1);
    EXPECT_EQ(parse_device_number("/dev/cryx 8x"), 8);
    EXPECT_THROW(parse_device_number("/dev/cryxq"), std::invalid_argument);
    EXPECT_THROW(parse_device_number("/dev/cryx4294967296"), std::out_of_range);
}

}  // namespace
