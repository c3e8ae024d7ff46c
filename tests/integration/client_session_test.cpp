// The real daemon in a sandbox, driven by the project's own client command `ztctl`: an
// encrypted session set up with nothing but an account's name and password, and the
// service's own requests.

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

class ClientSession : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason();
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>();
        m_box->provision_with_tool({{"admin", "correct horse"}});
        m_box->write_file("/run/admin.pw", "correct horse\n", 0600);
        m_box->write_file("/run/wrong.pw", "battery staple\n", 0600);
        m_daemon = m_box->start_daemon();
        ASSERT_TRUE(m_box->wait_for_name("ru.quorvex.server", m_daemon, 30s));
    }

    // Runs ztctl with args inside the sandbox; its exit status, its output in m_output.
    int ztctl(const std::string& args) {
        auto child = m_box->spawn(
            {"/bin/sh", "-c", std::string(ZT_ZTCTL_PATH) + " " + args + " >/run/out 2>&1"});
        const auto status = child.wait(60s);
        m_output = m_box->read_file("/run/out").value_or("");
        // The daemon's side of it, for a failure's message.
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            m_output += "\n  journal <" + e.priority() + "> " + e.message();
        }
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::unique_ptr<sandbox> m_box;
    zt_testing::child_process m_daemon;
    std::string m_output;
};

TEST_F(ClientSession, AccountReachesAnEncryptedSessionAndRootStopsTheService) {
    for (const char* sequence : {"", " --authenticated"}) {
        EXPECT_EQ(ztctl(std::string("--as admin --password-file /run/admin.pw ping") + sequence), 0)
            << m_output;
    }
    // A wrong password is found by the client before anything is sent: authentication (4).
    EXPECT_EQ(ztctl("--as admin --password-file /run/wrong.pw ping"), 4) << m_output;
    // The keys the provisioning tool pinned are the daemon's: another key-agreement key in
    // the pin file makes the client refuse the service.
    const auto pinned = m_box->read_file("/etc/ztctl/service.pub");
    ASSERT_TRUE(pinned && pinned->find("key-agreement ") != std::string::npos);
    const std::string forged = pinned->substr(0, pinned->find("key-agreement ")) +
                               "key-agreement " + std::string(64, 'a') + "\n";
    m_box->write_file("/etc/ztctl/service.pub", forged, 0644);
    EXPECT_EQ(ztctl("--as admin --password-file /run/admin.pw ping"), 4) << m_output;
    m_box->write_file("/etc/ztctl/service.pub", *pinned, 0644);
    EXPECT_EQ(ztctl("--as admin --password-file /run/admin.pw --json service public-key"), 0)
        << m_output;
    EXPECT_NE(m_output.find("public"), std::string::npos) << m_output;

    EXPECT_EQ(ztctl("--as admin --password-file /run/admin.pw service stop"), 0) << m_output;
    const auto status = m_daemon.wait(30s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

}  // namespace
