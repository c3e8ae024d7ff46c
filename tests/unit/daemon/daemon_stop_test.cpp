#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon/daemon.h"
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

}  // namespace
