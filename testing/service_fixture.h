#pragma once

// The fixture of tests against the running daemon: a sandbox (skipped with its reason where
// it cannot run), the service provisioned by the provisioning tool with the administrators
// given, system accounts, and the daemon owning its name.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace zt_testing {

class service_fixture : public ::testing::Test {
  protected:
    using admins = std::vector<std::pair<std::string, std::string>>;

    // Builds the sandbox, provisions it with administrators (each also a system account), adds
    // accounts and starts the daemon. Call it last in SetUp: where the sandbox cannot run it
    // skips the test (its body is not run), or fails it where every test is required.
    void set_up_service(const admins& administrators, const std::vector<std::string>& accounts,
                        const sandbox_options& options = {}) {
        if (const std::string reason = sandbox::unavailable_reason(options); !reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>(options);
        m_box->provision_with_tool(administrators);
        for (const auto& [name, password] : administrators) {
            m_account[name] = m_box->add_account(name);
        }
        for (const auto& name : accounts) {
            m_account[name] = m_box->add_account(name);
        }
        ASSERT_NO_FATAL_FAILURE(start());
    }

    // Starts the daemon (with the fault injector's fault when given) and waits for its name;
    // started() runs once it owns it.
    void start(const std::string& fault = {}) {
        m_daemon = m_box->start_daemon({}, {}, fault);
        ASSERT_TRUE(m_box->wait_for_name("ru.quorvex.server", m_daemon, std::chrono::seconds(30)));
        started();
    }

    // Ends the daemon with SIGTERM; it must exit with 0.
    void stop() {
        stopping();
        m_daemon.signal(SIGTERM);
        ASSERT_EQ(m_daemon.wait(std::chrono::seconds(30)), 0);
    }

    // Hooks for what a test keeps per daemon run (a client, say).
    virtual void started() {}
    virtual void stopping() {}

    // Whether the daemon logged message with priority.
    bool logged(const std::string& priority, const std::string& message) {
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            if (e.priority() == priority && e.message() == message) {
                return true;
            }
        }
        return false;
    }

    void TearDown() override {
        if (m_box && m_daemon.running()) {
            stopping();
            m_daemon.signal(SIGTERM);
            EXPECT_TRUE(m_daemon.wait(std::chrono::seconds(30)));
        }
    }

    std::unique_ptr<sandbox> m_box;
    child_process m_daemon;
    std::map<std::string, sandbox::account> m_account;  // the accounts set_up_service added
};

}  // namespace zt_testing
