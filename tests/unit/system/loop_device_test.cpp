#include "system/loop_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace {

using namespace std::chrono_literals;
using sys::LoopDevice;
using sys::LoopError;

// A kernel that answers every request with the errors of a script (0 for success, the last
// entry repeated) and records the requests and the pauses asked for.
struct scripted_kernel {
    explicit scripted_kernel(std::vector<int> script) : answers(std::move(script)) {}

    std::vector<int> answers;
    std::vector<unsigned long> requests;
    std::vector<std::chrono::milliseconds> pauses;

    sys::kernel_calls calls() {
        return {
            .open = [](const char*, int) { return -1; },
            .request =
                [this](int, unsigned long request, std::uintptr_t) {
                    const int answer = answers[std::min(requests.size(), answers.size() - 1)];
                    requests.push_back(request);
                    errno = answer;
                    return answer == 0 ? 0 : -1;
                },
            .pause = [this](std::chrono::milliseconds time) { pauses.push_back(time); },
        };
    }
};

// A descriptor for a handle to own; any open file serves where the kernel is scripted.
int some_fd() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(LoopError, CategoryNameAndMessages) {
    EXPECT_STREQ(sys::make_loop_category().name(), "loop device");
    const std::pair<LoopError, const char*> rows[] = {
        {LoopError::Success, "Success"},
        {LoopError::BackingFileNotSet, "Backing file not set"},
        {LoopError::DeviceNumberNotSet, "Device number not set"},
        {LoopError::DeviceNumberNotValid, "Device number not valid"},
        {LoopError::DeviceNameNotValid, "Device name not valid"},
        {LoopError::DeviceBusy, "Device is busy"},
        {LoopError::DeviceFree, "Device is free"},
    };
    for (const auto& [value, text] : rows) {
        const std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &sys::make_loop_category());
        EXPECT_EQ(&make_error_condition(value).category(), &sys::make_loop_category());
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(std::error_code(LoopError::DeviceFree).value(), 0x8005);
    EXPECT_EQ(sys::make_loop_category().message(0x8006), "Unknown error: 32774");
}

// EAGAIN is asked again after a 250 ms pause, at most eight times; the ninth answer stands.
TEST(LoopRetry, StopsAtTheFirstAnswerThatIsNotEagain) {
    const struct {
        std::vector<int> answers;
        bool result;
        int value;
        std::size_t requests;
    } rows[] = {
        {{0}, true, 0, 1},
        {{EAGAIN, EAGAIN, 0}, true, 0, 3},
        {{EBUSY}, false, -EBUSY, 1},
        {{EAGAIN, ENXIO}, false, -ENXIO, 2},
        {{EAGAIN, EAGAIN, EAGAIN, EAGAIN, EAGAIN, EAGAIN, EAGAIN, EAGAIN, 0}, true, 0, 9},
        {{EAGAIN}, false, -EAGAIN, 9},
    };
    for (const auto& row : rows) {
        scripted_kernel kernel(row.answers);
        std::error_code ec(1, std::system_category());
        EXPECT_EQ(sys::retry_request(3, LOOP_SET_STATUS64, 0, kernel.calls(), ec), row.result);
        EXPECT_EQ(ec.value(), row.value);
        EXPECT_EQ(kernel.requests.size(), row.requests);
        EXPECT_EQ(kernel.pauses, std::vector<std::chrono::milliseconds>(row.requests - 1, 250ms));
    }
    // A handle whose drop fails keeps its device.
    scripted_kernel kernel({EAGAIN});
    LoopDevice device(7, some_fd());
    std::error_code ec;
    EXPECT_FALSE(device.drop(ec, kernel.calls()));
    EXPECT_EQ(ec, std::error_code(-EAGAIN, std::system_category()));
    EXPECT_EQ(kernel.requests, std::vector<unsigned long>(9, LOOP_CLR_FD));
    EXPECT_TRUE(device.used());
}

TEST(LoopDevice, RefusalsOfHandlesInTheWrongState) {
    scripted_kernel kernel({0});
    std::error_code ec;
    LoopDevice empty;
    EXPECT_FALSE(empty.drop(ec, kernel.calls()));
    EXPECT_EQ(ec, LoopError::DeviceFree);

    // A number the kernel did not hand out may be dropped but not updated; a used handle
    // keeps its number.
    LoopDevice numbered(4, some_fd());
    EXPECT_FALSE(numbered.update_status(ec, kernel.calls()));
    EXPECT_EQ(ec, LoopError::DeviceNumberNotValid);
    EXPECT_FALSE(LoopDevice::get_free(numbered, ec));
    EXPECT_EQ(ec, LoopError::DeviceBusy);
    EXPECT_EQ(numbered.get_number(), 4);
    EXPECT_TRUE(kernel.requests.empty());

    LoopDevice moved(std::move(numbered));  // one owner of the descriptor
    EXPECT_TRUE(moved.used());
    EXPECT_FALSE(numbered.used());
}

TEST(LoopDevice, RestoreAcceptsOnlyTheLoopPrefixFollowedByANumber) {
    for (const char* path : {"/dev/loop", "/dev/loopx", "/dev/loop-1",
                             "/dev/loop99999999999999999999", "/tmp/dev/loop7", ""}) {
        LoopDevice device;
        std::error_code ec;
        EXPECT_FALSE(device.restore(path, ec)) << path;
        EXPECT_EQ(ec, LoopError::DeviceNameNotValid) << path;
        EXPECT_FALSE(device.used());
    }
    // The kernel test restores a real device by its name; a used handle refuses.
    LoopDevice restored(2, some_fd());
    std::error_code ec;
    EXPECT_FALSE(restored.restore("/dev/loop7", ec));
    EXPECT_EQ(ec, LoopError::DeviceBusy);
}

using LoopSizes = TempDir;

// Creates a file of size bytes and opens it for reading.
int sized_file(const std::string& path, std::size_t size) {
    std::ofstream(path) << std::string(size, 'z');
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

TEST_F(LoopSizes, FindSizeFindsTheLastReadableByte) {
    for (const std::size_t size : {1u, 1023u, 1024u, 1025u, 5000u, (1u << 20) + 3}) {
        const int fd = sized_file(path("f"), size);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(sys::find_size(fd), size);
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 1);  // put back near the start
        ::close(fd);
    }
}

// The size check compares a device (here a file standing for one) with its backing file; a
// mismatch asks the kernel once to re-read the capacity.
TEST_F(LoopSizes, CheckSizeRoundsDownAndAsksForTheCapacityOnce) {
    const struct {
        std::size_t device, file;
        std::uint64_t offset, limit;
        bool result;
        std::size_t capacity_requests;
    } rows[] = {
        {4096, 4096, 0, 0, true, 0},
        {4096, 4096 + 100, 0, 0, true, 0},  // a partial last sector is not mapped
        {4096, 8192, 0, 0, false, 1},
        {4096, 8192, 4096, 0, true, 0},
        {4096, 8192, 0, 4096, true, 0},
        {4096, 8192, 1024, 5000, false, 1},
    };
    for (const auto& row : rows) {
        const int device = sized_file(path("device"), row.device);
        const int file = sized_file(path("file"), row.file);
        loop_info64 info{};
        info.lo_offset = row.offset;
        info.lo_sizelimit = row.limit;
        scripted_kernel kernel({0});
        std::error_code ec;
        EXPECT_EQ(sys::check_size(device, file, &info, ec, kernel.calls()), row.result);
        EXPECT_EQ(ec,
                  row.result ? std::error_code() : std::error_code(ERANGE, std::system_category()));
        EXPECT_EQ(kernel.requests,
                  std::vector<unsigned long>(row.capacity_requests, LOOP_SET_CAPACITY));
        ::close(device);
        ::close(file);
    }
}

}  // namespace
