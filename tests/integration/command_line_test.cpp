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

const std::string kUsage =
    "Options:\n"
    "\t-d            Become daemon\n"
    "\t-h,  --help   Print this message\n"
    "Return codes: \n"
    "0 - Success\n"
    "1 - Failure\n";

// Descendants re-parented to this process (it is a subreaper) that exit within timeout;
// their exit codes.
std::vector<int> reap_orphans(std::chrono::milliseconds timeout) {
    std::vector<int> codes;
    zt_testing::wait_until(
        [&] {
            int status = 0;
            const pid_t pid = waitpid(-1, &status, WNOHANG);
            if (pid > 0) {
                codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            }
            return pid < 0 && errno == ECHILD;  // nothing left that could still exit
        },
        timeout);
    return codes;
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

    // Runs the daemon with args; its exit code (-1 when it did not exit), output and errors.
    static int run(const std::vector<std::string>& args, std::string& out, std::string& err) {
        std::vector<std::string> argv{zt_testing::sandbox::daemon_path()};
        argv.insert(argv.end(), args.begin(), args.end());
        zt_testing::spawn_options io;
        io.env = zt_testing::environment_with({"LANG", "LANGUAGE"}, {"LC_ALL=C"});
        const auto r = zt_testing::run_captured(argv, 10s, io);
        out = r.out;
        err = r.err;
        return r.status && WIFEXITED(*r.status) ? WEXITSTATUS(*r.status) : -1;
    }
};

TEST_F(CommandLine, HelpPrintsTheUsageAndSucceedsWithoutDetaching) {
    const std::vector<std::string> cases[] = {{"-h"}, {"--help"}, {"-h", "-d"}};
    for (const auto& args : cases) {
        const std::string label = ::testing::PrintToString(args);
        std::string out, err;
        EXPECT_EQ(run(args, out, err), 0) << label;
        EXPECT_EQ(out, kUsage) << label;
        EXPECT_EQ(err, "") << label;
        EXPECT_TRUE(reap_orphans(0ms).empty()) << label;
    }
}

TEST_F(CommandLine, DetachBeforeHelpPrintsFromTheDetachedGrandchild) {
    std::string out, err;
    EXPECT_EQ(run({"-d", "-h"}, out, err), 0);
    EXPECT_EQ(out, kUsage);  // exactly once: nothing buffered was duplicated by the forks
    // The session leader and the grandchild that printed the usage, both exiting with 0.
    EXPECT_EQ(reap_orphans(5s), (std::vector<int>{0, 0}));
}

TEST_F(CommandLine, UnknownOptionOrBareWordPrintsTheUsageAndFails) {
    for (const char* option : {"-x", "--verbose", "foo"}) {
        std::string out, err;
        EXPECT_EQ(run({option}, out, err), 1) << option;
        EXPECT_EQ(out, kUsage) << option;
        EXPECT_TRUE(reap_orphans(0ms).empty()) << option;
    }
    std::string out, err;
    run({"foo"}, out, err);
    EXPECT_EQ(err, zt_testing::sandbox::daemon_path() + ": Unknown option \"foo\"\n");
}

}  // namespace
