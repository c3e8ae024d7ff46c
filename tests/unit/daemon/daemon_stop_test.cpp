#include <glib.h>
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "daemon/daemon.h"
#include "daemon/main_loop.h"
#include "daemon/termination.h"
#include "testing/log_capture.h"

namespace {

using zt_testing::log_capture;

TEST(DaemonStop, StopBeforeTheDatabaseWasLoadedSavesNothingAndReportsNothing) {
    const auto& records = log_capture::start();
    Daemon daemon;
    daemon.stop();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].at("PRIORITY"), "6");
    EXPECT_EQ(records[0].at("MESSAGE"), "Stopping the daemon");
}

Daemon* g_stop_target = nullptr;

TEST(DaemonStop, SigtermBeforeTheLoopRunsStopsItAsSoonAsItRuns) {
    log_capture::start();
    Daemon daemon;
    g_stop_target = &daemon;
    const unsigned source = watch_termination([](int signal) {
        if (signal == SIGTERM && g_stop_target != nullptr) {
            g_stop_target->stop();
        }
    });
    // Only recorded: the process survives, and nothing is stopped inside the signal context.
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(log_capture::values().empty());
    daemon.start();  // returns only because the pending SIGTERM stops the daemon
    g_source_remove(source);
    g_stop_target = nullptr;
    EXPECT_EQ(log_capture::values(),
              (std::vector<std::string>{"Starting the demon", "Stopping the daemon"}));
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
