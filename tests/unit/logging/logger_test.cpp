#include "logging/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/log_capture.h"

namespace {

using zt_testing::log_capture;
using strings = std::vector<std::string>;

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { log_capture::start(); }
};

// Strings, pointers and literals all expand, and a "%" inside them is not read as a format.
TEST_F(LoggerTest, PercentInAnArgumentIsPrintedUnchanged) {
    ztl::Logger::init("ztctld");
    const std::string path = "/srv/%s%n%d 100%";
    const char* pointer = "two %s";
    ztl::Logger::warning("Unable to mount the disk: %s (%s, %s)", path, pointer, "three");
    EXPECT_EQ(log_capture::values(),
              strings{"Unable to mount the disk: /srv/%s%n%d 100% (two %s, three)"});
}

// Error returns to the caller like the other levels: GLib's own error level would abort.
// Each message carries the domain current at the call; init(nullptr) leaves it as it is.
TEST_F(LoggerTest, EachLevelReturnsWithItsPriorityAndTheCurrentDomain) {
    ztl::Logger::init("first");
    ztl::Logger::error("%s", "e");
    ztl::Logger::init(nullptr);
    ztl::Logger::critical("%s", "c");
    ztl::Logger::init("ztctld");
    ztl::Logger::warning("%s", "w");
    ztl::Logger::info("%s", "i");
    EXPECT_EQ(log_capture::values(), (strings{"e", "c", "w", "i"}));
    EXPECT_EQ(log_capture::values("PRIORITY"), (strings{"3", "4", "4", "6"}));
    EXPECT_EQ(log_capture::values("GLIB_DOMAIN"), (strings{"first", "first", "ztctld", "ztctld"}));
}

// A fresh process, so the domain has never been set.
TEST_F(LoggerTest, MessageBeforeInitHasNoDomain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ztl::Logger::info("%s", "early");
            std::exit(log_capture::values() == strings{"early"} &&
                              log_capture::values("GLIB_DOMAIN") == strings{"-"}
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
