// The service's bus policy from dist/, installed alone into a private system bus that
// denies by default: root may own "ru.quorvex.server", nobody else may, and any local
// user may call it.

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "dbus/bus_name.h"
#include "dbus/conf_generator.h"
#include "testing/account_process.h"
#include "testing/private_bus.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using zt_testing::error_holder;
using zt_testing::message_ptr;
using zt_testing::sandbox;

constexpr const char* kService = "ru.quorvex.server";
constexpr const char* kInsideAddress = "unix:path=/run/dbus/system_bus_socket";
constexpr uid_t kNobody = 65534;

// dbus_bus_request_name's answer for name, or -1 with the error name in error.
int request_name(DBusConnection* c, std::string& error, const char* name = kService) {
    error_holder e;
    const int r = dbus_bus_request_name(c, name, DBUS_NAME_FLAG_DO_NOT_QUEUE, &e.error);
    error = dbus_error_is_set(&e.error) ? e.error.name : "";
    return r;
}

class BusPolicy : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = sandbox::unavailable_reason();
        if (!reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<sandbox>();
    }

    // Runs body in a child inside the sandbox as user nobody, calling serve() here meanwhile;
    // the child's exit code (-1 on a timeout or signal).
    int run_as_nobody(
        const std::function<int(DBusConnection*)>& body,
        const std::function<void()>& serve = [] {}) {
        return zt_testing::run_as(
            *m_box, kNobody, [&] { return body(zt_testing::open_bus(kInsideAddress).get()); },
            serve, 20s);
    }

    std::unique_ptr<sandbox> m_box;
};

// Only root may own "ru.quorvex.server" (as the daemon does); it answers a call from user
// nobody. The policy file that registration writes for a user is one the bus accepts: once
// it is in system.d (the bus reloads it by itself), any local process may own the user's
// bus name.
TEST_F(BusPolicy, RootAloneOwnsTheServiceAnyUserCallsItAndAUserPolicyTakesEffect) {
    EXPECT_EQ(run_as_nobody([](DBusConnection* c) {
                  std::string error;
                  return request_name(c, error) == -1 && error == DBUS_ERROR_ACCESS_DENIED ? 0 : 1;
              }),
              0);

    auto root = zt_testing::open_bus(m_box->bus_address());
    std::string root_error;
    ASSERT_EQ(request_name(root.get(), root_error), DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
        << root_error;

    int answered = 0;
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
    const auto call = [](DBusConnection* c) {
        message_ptr m(dbus_message_new_method_call(kService, "/ru/quorvex/system/session",
                                                   "ru.quorvex.system.session", "Open"));
        error_holder e;
        return message_ptr(dbus_connection_send_with_reply_and_block(c, m.get(), 10000, &e.error))
                   ? 0
                   : 1;
    };
    EXPECT_EQ(run_as_nobody(call, serve), 0);
    EXPECT_EQ(answered, 1);

    const std::string name = misc::get_server_bus_name("user1");
    const auto [text, file] = conf_generator::generate(name);
    ASSERT_FALSE(file.empty());
    // Put in place whole: the bus reloads on the first change it sees and must not meet a
    // half-written file.
    const std::string path = "/etc/dbus-1/system.d/" + file;
    m_box->write_file(path + ".part", text);
    std::filesystem::rename(m_box->host_path(path + ".part"), m_box->host_path(path));
    EXPECT_EQ(run_as_nobody([&](DBusConnection* c) {
                  std::string error;
                  const bool owned = zt_testing::wait_until(
                      [&] {
                          return request_name(c, error, name.c_str()) ==
                                 DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER;
                      },
                      10s);
                  return owned ? 0 : 1;
              }),
              0);
}

}  // namespace
