#include "logging/logger.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/log_capture.h"

namespace {

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override { zt_testing::log_capture::start(); }
    static const zt_testing::log_record& at(std::size_t i) {
        return zt_testing::log_capture::records().at(i);
    }
    static std::size_t count() { return zt_testing::log_capture::records().size(); }
};

// Strings, pointers and literals all expand, and a "%" inside them is not read as a format.
TEST_F(LoggerTest, PercentInAnArgumentIsPrintedUnchanged) {
    ztl::Logger::init("ztctld");
    const std::string path = "/srv/%s%n%d 100%";
    const char* pointer = "two %s";
    ztl::Logger::warning("Unable to mount the disk: %s (%s, %s)", path, pointer, "three");
    ASSERT_EQ(count(), 1u);
    EXPECT_EQ(at(0).at("MESSAGE"), "Unable to mount the disk: /srv/%s%n%d 100% (two %s, three)");
}

// Error returns to the caller like the other levels: GLib's own error level would abort.
TEST_F(LoggerTest, EachLevelHasItsJournalPriorityAndReturns) {
    ztl::Logger::init("ztctld");
    ztl::Logger::error("%s", "e");
    ztl::Logger::critical("%s", "c");
    ztl::Logger::warning("%s", "w");
    ztl::Logger::info("%s", "i");
    ASSERT_EQ(count(), 4u);
    const char* expected[][2] = {{"e", "3"}, {"c", "4"}, {"w", "4"}, {"i", "6"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(at(i).at("MESSAGE"), expected[i][0]);
        EXPECT_EQ(at(i).at("PRIORITY"), expected[i][1]);
    }
}

TEST_F(LoggerTest, MessageCarriesTheDomainCurrentAtTheCall) {
    ztl::Logger::init("first");
    ztl::Logger::info("%s", "a");
    ztl::Logger::init(nullptr);  // leaves the domain as it is
    ztl::Logger::info("%s", "b");
    ztl::Logger::init("ztctld");
    ztl::Logger::info("%s", "c");
    ASSERT_EQ(count(), 3u);
    EXPECT_EQ(at(0).at("GLIB_DOMAIN"), "first");
    EXPECT_EQ(at(1).at("GLIB_DOMAIN"), "first");
    EXPECT_EQ(at(2).at("GLIB_DOMAIN"), "ztctld");
}

// A fresh process, so the domain has never been set.
TEST_F(LoggerTest, MessageBeforeInitHasNoDomain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ztl::Logger::info("%s", "early");
            std::exit(count() == 1 && at(0).count("GLIB_DOMAIN") == 0 &&
                              at(0).at("MESSAGE") == "early"
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
