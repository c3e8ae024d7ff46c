#include "logging/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/log_capture.h"

namespace {

using zt_testing::log_capture;
using strings = std::vector<std::string>;

// The given field of every captured message, in order ("-" when absent).
strings field(const std::string& key) {
    strings out;
    for (const auto& r : log_capture::records()) {
        out.push_back(r.count(key) != 0 ? r.at(key) : "-");
    }
    return out;
}

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
    EXPECT_EQ(log_capture::messages(),
              strings{"Unable to mount the disk: /srv/%s%n%d 100% (two %s, three)"});
}

// Error returns to the caller like the other levels: GLib's own error level would abort.
TEST_F(LoggerTest, EachLevelHasItsJournalPriorityAndReturns) {
    ztl::Logger::init("ztctld");
    ztl::Logger::error("%s", "e");
    ztl::Logger::critical("%s", "c");
    ztl::Logger::warning("%s", "w");
    ztl::Logger::info("%s", "i");
    EXPECT_EQ(log_capture::messages(), (strings{"e", "c", "w", "i"}));
    EXPECT_EQ(field("PRIORITY"), (strings{"3", "4", "4", "6"}));
}

TEST_F(LoggerTest, MessageCarriesTheDomainCurrentAtTheCall) {
    ztl::Logger::init("first");
    ztl::Logger::info("%s", "a");
    ztl::Logger::init(nullptr);  // leaves the domain as it is
    ztl::Logger::info("%s", "b");
    ztl::Logger::init("ztctld");
    ztl::Logger::info("%s", "c");
    EXPECT_EQ(field("GLIB_DOMAIN"), (strings{"first", "first", "ztctld"}));
}

// A fresh process, so the domain has never been set.
TEST_F(LoggerTest, MessageBeforeInitHasNoDomain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ztl::Logger::info("%s", "early");
            std::exit(log_capture::messages() == strings{"early"} &&
                              field("GLIB_DOMAIN") == strings{"-"}
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
