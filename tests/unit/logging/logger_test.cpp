#include "logging/logger.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using record = std::map<std::string, std::string>;

std::vector<record>& captured() {
    static std::vector<record> records;
    return records;
}

// Stands in for the journal: keeps every structured field of every message.
GLogWriterOutput capture_writer(GLogLevelFlags, const GLogField* fields, gsize n, gpointer) {
    record r;
    for (gsize i = 0; i < n; ++i) {
        const auto* value = static_cast<const char*>(fields[i].value);
        r[fields[i].key] = fields[i].length < 0
                               ? std::string(value)
                               : std::string(value, static_cast<std::size_t>(fields[i].length));
    }
    captured().push_back(std::move(r));
    return G_LOG_WRITER_HANDLED;
}

class LoggerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const bool installed = [] {
            g_log_set_writer_func(capture_writer, nullptr, nullptr);
            return true;
        }();
        (void)installed;
    }
    void SetUp() override { captured().clear(); }

    static const record& last() { return captured().back(); }
};

TEST_F(LoggerTest, PercentInAnArgumentIsPrintedUnchanged) {
    ztl::Logger::init("ztctld");
    const std::string path = "/srv/%s%n%d 100%";
    ztl::Logger::warning("Unable to mount the disk: %s", path);
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(last().at("MESSAGE"), "Unable to mount the disk: /srv/%s%n%d 100%");
}

TEST_F(LoggerTest, StringsPointersAndLiteralsAllExpand) {
    ztl::Logger::init("ztctld");
    const std::string a = "one";
    const char* b = "two";
    ztl::Logger::info("%s-%s-%s", a, b, "three");
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(last().at("MESSAGE"), "one-two-three");
}

TEST_F(LoggerTest, EachLevelHasItsJournalPriority) {
    ztl::Logger::init("ztctld");
    ztl::Logger::error("%s", "e");
    ztl::Logger::critical("%s", "c");
    ztl::Logger::warning("%s", "w");
    ztl::Logger::info("%s", "i");
    ASSERT_EQ(captured().size(), 4u);
    const char* expected[][2] = {{"e", "3"}, {"c", "4"}, {"w", "4"}, {"i", "6"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(captured()[i].at("MESSAGE"), expected[i][0]);
        EXPECT_EQ(captured()[i].at("PRIORITY"), expected[i][1]);
    }
}

TEST_F(LoggerTest, ErrorLevelReturnsToTheCaller) {
    ztl::Logger::init("ztctld");
    ztl::Logger::error("Unable to read config file: %s", "Success");
    // Reaching this line is the point: GLib's own error level would have aborted.
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(last().at("PRIORITY"), "3");
}

TEST_F(LoggerTest, MessageCarriesTheDomainCurrentAtTheCall) {
    ztl::Logger::init("first");
    ztl::Logger::info("%s", "a");
    ztl::Logger::init(nullptr);  // leaves the domain as it is
    ztl::Logger::info("%s", "b");
    ztl::Logger::init("ztctld");
    ztl::Logger::info("%s", "c");
    ASSERT_EQ(captured().size(), 3u);
    EXPECT_EQ(captured()[0].at("GLIB_DOMAIN"), "first");
    EXPECT_EQ(captured()[1].at("GLIB_DOMAIN"), "first");
    EXPECT_EQ(captured()[2].at("GLIB_DOMAIN"), "ztctld");
}

// A fresh process, so the domain has never been set.
TEST_F(LoggerTest, MessageBeforeInitHasNoDomain) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ztl::Logger::info("%s", "early");
            const bool ok = captured().size() == 1 && last().count("GLIB_DOMAIN") == 0 &&
                            last().at("MESSAGE") == "early";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
