#include "system/disk_devices.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

TEST(ReleaseDevices, DriverDeviceGoesFirstAndAFailureThereKeepsTheLoopDevice) {
    for (const int driver_error : {0, EBUSY}) {
        std::vector<unsigned long> requests;
        const sys::kernel_calls calls{
            .open = [](const char*, int) { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); },
            .request =
                [&](int, unsigned long request, std::uintptr_t) {
                    requests.push_back(request);
                    errno = request == 0x4C81 ? driver_error : 0;
                    return errno == 0 ? 0 : -1;
                },
            .pause = [](std::chrono::milliseconds) {},
        };
        cryx_device driver;
        ASSERT_TRUE(driver.set_device_name("/dev/cryx3"));
        sys::LoopDevice loop(5, ::open("/dev/null", O_RDONLY | O_CLOEXEC));
        std::error_code ec;
        EXPECT_EQ(sys::release_devices(driver, loop, ec, calls), driver_error == 0);
        if (driver_error == 0) {
            EXPECT_EQ(requests, (std::vector<unsigned long>{0x4C81, LOOP_CLR_FD}));
            EXPECT_EQ(driver.get_number(), -1);
        } else {
            EXPECT_EQ(requests, std::vector<unsigned long>{0x4C81});
            EXPECT_EQ(ec, std::error_code(EBUSY, std::generic_category()));
        }
    }
}

}  // namespace
