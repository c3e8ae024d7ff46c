// The daemon's command line, run as a real process. None of these cases gets past the
// option scan, so they run on the host without a sandbox.

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "testing/process.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::run_captured;

const std::string kUsage =
    "Options:\n"
    "\t-d            Become daemon\n"
    "\t-h,  --help   Print this message\n"
    "Return codes: \n"
    "0 - Success\n"
    "1 - Failure\n";

zt_testing::run_result run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{zt_testing::sandbox::daemon_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    zt_testing::spawn_options io;
    io.env = zt_testing::environment_with({"LANG", "LANGUAGE"}, {"LC_ALL=C"});
    return run_captured(argv, 10s, io);
}

int exit_code(const zt_testing::run_result& r) {
    return r.status && WIFEXITED(*r.status) ? WEXITSTATUS(*r.status) : -1;
}

// Reaps the descendants that were re-parented to this process (it is a subreaper) within
// the deadline; their exit codes.
std::vector<int> reap_orphans(std::chrono::milliseconds timeout) {
    std::vector<int> codes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            continue;
        }
        if (pid < 0 && errno == ECHILD) {
            return codes;  // nothing left that could still exit
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return codes;
        }
        usleep(2000);
    }
}

class CommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(zt_testing::sandbox::daemon_path().c_str(), X_OK) != 0) {
            GTEST_SKIP() << "daemon not built: " << zt_testing::sandbox::daemon_path();
        }
        // Detached descendants come back to this process, so the test can see them.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }
    void TearDown() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }
};

TEST_F(CommandLine, HelpPrintsTheUsageAndSucceeds) {
    for (const char* option : {"-h", "--help"}) {
        const auto r = run({option});
        EXPECT_EQ(exit_code(r), 0) << option;
        EXPECT_EQ(r.out, kUsage) << option;
        EXPECT_EQ(r.err, "") << option;
        EXPECT_TRUE(reap_orphans(0ms).empty()) << option;
    }
}

TEST_F(CommandLine, DetachBeforeHelpPrintsFromTheDetachedGrandchild) {
    const auto r = run({"-d", "-h"});
    EXPECT_EQ(exit_code(r), 0);
    EXPECT_EQ(r.out, kUsage);  // exactly once: nothing buffered was duplicated by the forks
    // The session leader and the grandchild that printed the usage, both exiting with 0.
    EXPECT_EQ(reap_orphans(5s), (std::vector<int>{0, 0}));
}

TEST_F(CommandLine, HelpBeforeDetachNeverDetaches) {
    const auto r = run({"-h", "-d"});
    EXPECT_EQ(exit_code(r), 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_TRUE(reap_orphans(0ms).empty());
}

TEST_F(CommandLine, UnknownOptionPrintsTheUsageAndFails) {
    for (const char* option : {"-x", "--verbose"}) {
        const auto r = run({option});
        EXPECT_EQ(exit_code(r), 1) << option;
        EXPECT_NE(r.out.find(kUsage), std::string::npos) << option;
        EXPECT_EQ(r.out.size(), kUsage.size()) << option;
    }
    EXPECT_TRUE(reap_orphans(0ms).empty());
}

TEST_F(CommandLine, BareWordIsReportedWithArgumentZeroAndFails) {
    const auto r = run({"foo"});
    EXPECT_EQ(exit_code(r), 1);
    EXPECT_EQ(r.err, zt_testing::sandbox::daemon_path() + ": Unknown option \"foo\"\n");
    EXPECT_EQ(r.out, kUsage);
}

}  // namespace
