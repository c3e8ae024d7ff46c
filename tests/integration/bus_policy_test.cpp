// The service's bus policy from dist/, installed alone into a private system bus that
// denies by default: root may own "ru.quorvex.server", nobody else may, and any local
// user may call it.

#include <dbus/dbus.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <functional>
#include <string>

#include "testing/private_bus.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::sandbox;

constexpr const char* kService = "ru.quorvex.server";
constexpr uid_t kNobody = 65534;

using zt_testing::connection_ptr;
using zt_testing::error_holder;
using zt_testing::message_ptr;

// A registered connection, or nothing (for use in a forked child, where nothing may throw).
connection_ptr connect(const std::string& address) {
    try {
        return zt_testing::open_bus(address);
    } catch (const std::exception&) {
        return nullptr;
    }
}

// dbus_bus_request_name's answer, or -1 with the error name in error.
int request_name(DBusConnection* c, std::string& error) {
    error_holder e;
    const int r = dbus_bus_request_name(c, kService, DBUS_NAME_FLAG_DO_NOT_QUEUE, &e.error);
    if (dbus_error_is_set(&e.error)) {
        error = e.error.name;
    }
    return r;
}

// Runs body in a child that has entered the sandbox and dropped to user nobody; its exit
// code (or -1). While it runs, serve() is called repeatedly in this process.
int run_as_nobody(
    const sandbox& box, const std::function<int()>& body,
    const std::function<void()>& serve = [] {}) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (setns(box.namespace_fd(), CLONE_NEWNS) != 0 || chdir("/") != 0 ||
            setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(100);
        }
        _exit(body());  // the bodies throw nothing: connect() gives nothing instead
    }
    int status = 0;
    if (!zt_testing::wait_until(
            [&] {
                serve();
                return waitpid(pid, &status, WNOHANG) == pid;
            },
            20s)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr const char* kInsideAddress = "unix:path=/run/dbus/system_bus_socket";

class BusPolicy : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason();
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_box = std::make_unique<sandbox>();
    }
    std::unique_ptr<sandbox> m_box;
};

TEST_F(BusPolicy, OtherUsersMayNotOwnTheServiceName) {
    const int code = run_as_nobody(*m_box, [] {
        auto c = connect(kInsideAddress);
        if (!c) {
            return 2;
        }
        std::string error;
        const int r = request_name(c.get(), error);
        return r == -1 && error == DBUS_ERROR_ACCESS_DENIED ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
}

// Root owns the name (as the daemon does) and answers a call from user nobody.
TEST_F(BusPolicy, RootMayOwnTheServiceNameAndAnyUserMayCallIt) {
    auto root = connect(m_box->bus_address());
    ASSERT_TRUE(root);
    std::string error;
    ASSERT_EQ(request_name(root.get(), error), DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) << error;

    int answered = 0;
    // Stands in for the daemon: answers every method call with an empty return.
    auto serve = [&] {
        dbus_connection_read_write(root.get(), 20);
        while (message_ptr m{dbus_connection_pop_message(root.get())}) {
            if (dbus_message_get_type(m.get()) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                message_ptr reply(dbus_message_new_method_return(m.get()));
                dbus_connection_send(root.get(), reply.get(), nullptr);
                dbus_connection_flush(root.get());
                ++answered;
            }
        }
    };
    const int code = run_as_nobody(
        *m_box,
        [] {
            auto c = connect(kInsideAddress);
            if (!c) {
                return 2;
            }
            message_ptr call(dbus_message_new_method_call(kService, "/ru/quorvex/system/session",
                                                          "ru.quorvex.system.session", "Open"));
            error_holder e;
            message_ptr reply(
                dbus_connection_send_with_reply_and_block(c.get(), call.get(), 10000, &e.error));
            return reply ? 0 : 1;
        },
        serve);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(answered, 1);
}

}  // namespace
