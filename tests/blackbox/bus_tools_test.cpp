// The real daemon in a sandbox, driven by busctl, gdbus and openssl: the words on the wire
// and the service key as tools read them that this project did not write.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;

class BusTools : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason();
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>();
        m_box->provision_with_tool({{"admin", "correct horse"}});
        m_daemon = m_box->start_daemon();
        ASSERT_TRUE(m_box->wait_for_name("ru.quorvex.server", m_daemon, 30s));
    }

    // Runs a shell command line inside the sandbox; its exit status, its output in m_output.
    int run(const std::string& command) {
        auto child = m_box->spawn({"/bin/sh", "-c", command + " >/run/out 2>&1"});
        const auto status = child.wait(60s);
        m_output = m_box->read_file("/run/out").value_or("");
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::unique_ptr<sandbox> m_box;
    zt_testing::child_process m_daemon;
    std::string m_output;
};

constexpr const char* kSession = "ru.quorvex.server /ru/quorvex/system/session";

TEST_F(BusTools, OpenAnswersItsWordsToEveryClient) {
    ASSERT_EQ(run(std::string("busctl --system call ") + kSession +
                  " ru.quorvex.system.session Open uu 4 4"),
              0)
        << m_output;
    EXPECT_EQ(m_output, "uuu 4 64 1\n");
    ASSERT_EQ(run("gdbus call --system --dest ru.quorvex.server --object-path "
                  "/ru/quorvex/system/session --method ru.quorvex.system.session.Open 'uint32 4' "
                  "'uint32 4'"),
              0)
        << m_output;
    EXPECT_EQ(m_output, "(uint32 4, uint32 64, uint32 1)\n");
    // "Open" (5, 4) is no start condition: no answer at all, so the call times out.
    EXPECT_NE(run(std::string("busctl --system --timeout=2 call ") + kSession +
                  " ru.quorvex.system.session Open uu 5 4"),
              0);
    EXPECT_NE(m_output.find("timed out"), std::string::npos) << m_output;
}

TEST_F(BusTools, RequestWithoutASessionGetsABusErrorWithTheReason) {
    // A connection that never opened a session has no context to answer in: the daemon
    // answers at once with a D-Bus error instead of leaving the client to time out.
    EXPECT_NE(run("busctl --system call ru.quorvex.server /ru/quorvex/system/service "
                  "ru.quorvex.system.service GetPublicKey uuay 1 16 0"),
              0);
    EXPECT_NE(m_output.find("Session isn't established"), std::string::npos) << m_output;
}

#ifdef ZT_ZTCTL_PATH
TEST_F(BusTools, OpensslReadsTheServicePublicKey) {
    m_box->write_file("/run/admin.pw", "correct horse\n", 0600);
    ASSERT_EQ(run(std::string(ZT_ZTCTL_PATH) +
                  " --as admin --password-file /run/admin.pw service public-key > /run/key.pem"
                  " && openssl pkey -pubin -in /run/key.pem -noout -text"),
              0)
        << m_output;
    EXPECT_NE(m_output.find("X25519 Public-Key"), std::string::npos) << m_output;
}
#endif

}  // namespace
