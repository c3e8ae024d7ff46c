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
#include "testing/required_environment.h"
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
            ZT_SKIP_UNLESS_REQUIRED("daemon not built: " + zt_testing::sandbox::daemon_path());
        }
        // Detached descendants come back to this process, so the test can see them.
        ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    }
    void TearDown() override { prctl(PR_SET_CHILD_SUBREAPER, 0); }

    // Runs the daemon with args; exit code (-1: did not exit), output and errors.
    struct result {
        int code;
        std::string out, err;
    };
    static result run(const std::vector<std::string>& args) {
        std::vector<std::string> argv{zt_testing::sandbox::daemon_path()};
        argv.insert(argv.end(), args.begin(), args.end());
        zt_testing::spawn_options io{
            .env = zt_testing::environment_with({"LANG", "LANGUAGE"}, {"LC_ALL=C"})};
        auto r = zt_testing::run_captured(argv, 10s, io);
        return {r.status && WIFEXITED(*r.status) ? WEXITSTATUS(*r.status) : -1, r.out, r.err};
    }
};

TEST_F(CommandLine, HelpPrintsTheUsageAndSucceedsWithoutDetaching) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h"}, {"--help"}, {"-h", "-d"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.code, 0) << args.back();
        EXPECT_EQ(r.out, kUsage) << args.back();
        EXPECT_EQ(r.err, "") << args.back();
        EXPECT_TRUE(reap_orphans(0ms).empty()) << args.back();
    }
}

TEST_F(CommandLine, DetachBeforeHelpPrintsFromTheDetachedGrandchild) {
    const auto r = run({"-d", "-h"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, kUsage);  // exactly once: no buffer duplicated by the forks
    // The session leader and the grandchild that printed the usage, both exiting with 0.
    EXPECT_EQ(reap_orphans(5s), (std::vector<int>{0, 0}));
}

TEST_F(CommandLine, UnknownOptionOrBareWordPrintsTheUsageAndFails) {
    for (const char* option : {"-x", "--verbose", "foo"}) {
        const auto r = run({option});
        EXPECT_EQ(r.code, 1) << option;
        EXPECT_EQ(r.out, kUsage) << option;
        EXPECT_TRUE(reap_orphans(0ms).empty()) << option;
    }
    EXPECT_EQ(run({"foo"}).err, zt_testing::sandbox::daemon_path() + ": Unknown option \"foo\"\n");
}

}  // namespace
