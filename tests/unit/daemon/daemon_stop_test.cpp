#include <glib.h>
#include <gtest/gtest.h>
#include <csignal>

#include <string>
#include <utility>
#include <vector>

#include "daemon/daemon.h"
#include "daemon/main_loop.h"
#include "daemon/termination.h"

namespace {

std::vector<std::pair<std::string, std::string>>& captured() {
    static std::vector<std::pair<std::string, std::string>> lines;  // (priority, message)
    return lines;
}

GLogWriterOutput capture_writer(GLogLevelFlags, const GLogField* fields, gsize n, gpointer) {
    std::string priority;
    std::string message;
    for (gsize i = 0; i < n; ++i) {
        const std::string key = fields[i].key;
        if (key == "PRIORITY") {
            priority = static_cast<const char*>(fields[i].value);
        } else if (key == "MESSAGE") {
            message = static_cast<const char*>(fields[i].value);
        }
    }
    captured().emplace_back(priority, message);
    return G_LOG_WRITER_HANDLED;
}

class DaemonStop : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const bool installed = [] {
            g_log_set_writer_func(capture_writer, nullptr, nullptr);
            return true;
        }();
        (void)installed;
    }
    void SetUp() override { captured().clear(); }
};

TEST_F(DaemonStop, StopBeforeTheDatabaseWasLoadedSavesNothingAndReportsNothing) {
    Daemon daemon;
    daemon.stop();
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(captured()[0], std::make_pair(std::string("6"), std::string("Stopping the daemon")));
}

TEST_F(DaemonStop, StopFromInsideTheLoopEndsStart) {
    Daemon daemon;
    // Stands in for the SIGTERM source: a dispatch that stops the daemon.
    g_idle_add(
        [](gpointer data) -> gboolean {
            static_cast<Daemon*>(data)->stop();
            return G_SOURCE_REMOVE;
        },
        &daemon);
    daemon.start();  // returns only because the dispatch stopped the loop
    ASSERT_EQ(captured().size(), 2u);
    EXPECT_EQ(captured()[0].second, "Starting the demon");
    EXPECT_EQ(captured()[1].second, "Stopping the daemon");
}

Daemon* g_stop_target = nullptr;

void stop_target(int signal) {
    if (signal == SIGTERM && g_stop_target != nullptr) {
        g_stop_target->stop();
    }
}

TEST_F(DaemonStop, SigtermBeforeTheLoopRunsStopsItAsSoonAsItRuns) {
    Daemon daemon;
    g_stop_target = &daemon;
    const unsigned source = watch_termination(stop_target);
    // Only recorded: the process survives, and nothing is stopped inside the signal context.
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(captured().empty());
    daemon.start();  // returns only because the pending SIGTERM stops the daemon
    g_source_remove(source);
    g_stop_target = nullptr;
    ASSERT_EQ(captured().size(), 2u);
    EXPECT_EQ(captured()[0].second, "Starting the demon");
    EXPECT_EQ(captured()[1].second, "Stopping the daemon");
}

TEST(MainLoop, StoppedLoopDoesNotRunAgainAndRepeatedStopIsHarmless) {
    main_loop loop;
    EXPECT_TRUE(loop);
    loop.stop();
    loop.stop();
    EXPECT_FALSE(loop);
    loop.run();  // must return at once instead of blocking forever
}

}  // namespace
