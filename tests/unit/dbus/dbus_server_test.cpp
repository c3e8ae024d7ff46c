#include "dbus/dbus_server.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dbus/server_error.h"
#include "session/network_error.h"
#include "testing/private_bus.h"
#include "testing/process.h"

namespace {

using namespace std::chrono_literals;
namespace ds = dbus_iface::system;

// Which sessions the bound handlers were called with, by their sender.
std::vector<std::string> g_calls;

DBusHandlerResult first_handler(transfer_session& session, ztl::StoreManager&) {
    g_calls.push_back("first " + session.protocol().network().get_sender_id());
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;  // let the library answer the call
}

DBusHandlerResult second_handler(transfer_session&, ztl::StoreManager&) {
    g_calls.push_back("second");
    return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
}

// A server on a private session bus (GLib's test bus) with a client connection of its own;
// the server is dispatched by iterating GLib's default context, as the daemon's loop does.
class DbusServerBus : public ::testing::Test {
  protected:
    void SetUp() override {
        g_calls.clear();
        m_bus = g_test_dbus_new(G_TEST_DBUS_NONE);
        g_test_dbus_up(m_bus);
        m_client = zt_testing::open_bus(g_test_dbus_get_bus_address(m_bus));
        m_server.set_name("ru.quorvex.server");
    }
    void TearDown() override {
        m_client.reset();
        m_server.stop();
        m_server.disconnect();
        g_test_dbus_down(m_bus);
        g_object_unref(m_bus);
    }

    // Calls member on path from the client while the server dispatches; the name of the
    // error reply ("" for a method return, "timeout" when nothing came).
    std::string call(const char* path, const char* interface, const char* member) {
        zt_testing::message_ptr m(
            dbus_message_new_method_call("ru.quorvex.server", path, interface, member));
        DBusPendingCall* raw = nullptr;
        dbus_connection_send_with_reply(m_client.get(), m.get(), &raw, 10000);
        dbus_handle::pending_call_ptr pending(raw);
        const bool done = zt_testing::wait_until(
            [&] {
                g_main_context_iteration(nullptr, FALSE);
                dbus_connection_read_write_dispatch(m_client.get(), 5);
                return dbus_pending_call_get_completed(pending.get()) != 0;
            },
            10s);
        if (!done) {
            return "timeout";
        }
        zt_testing::message_ptr reply(dbus_pending_call_steal_reply(pending.get()));
        const char* error = dbus_message_get_error_name(reply.get());
        return error != nullptr ? error : "";
    }

    GTestDBus* m_bus = nullptr;
    zt_testing::connection_ptr m_client;
    DbusServer m_server;
};

TEST_F(DbusServerBus, RegistrationDispatchSignalAndFinalStop) {
    m_server.stop();  // no loop yet: nothing happens
    std::error_code ec;
    EXPECT_FALSE(m_server.register_handler(ds::control::stop(), &first_handler, ec));
    EXPECT_EQ(ec, server_error::not_connected);
    DbusServer unnamed;
    EXPECT_FALSE(unnamed.connect(DBUS_BUS_SESSION, ec));
    EXPECT_EQ(ec, server_error::invalid_name);

    ASSERT_TRUE(m_server.connect(DBUS_BUS_SESSION, ec)) << ec.message();
    EXPECT_TRUE(m_server.is_connected());
    m_server.setup_connection();
    ASSERT_TRUE(m_server.register_handler(ds::control::stop(), &first_handler, ec));
    EXPECT_FALSE(m_server.register_handler(ds::control::stop(), &second_handler, ec));
    EXPECT_EQ(ec, server_error::interface_in_use);
    // Two interfaces under one path share its registration.
    EXPECT_TRUE(m_server.register_handler(ds::disk_manage::user::mount(), &second_handler, ec));
    EXPECT_TRUE(m_server.register_handler(ds::disk_manage::admin::create(), &second_handler, ec));

    EXPECT_EQ(call("/ru/quorvex/system/control", "ru.quorvex.system.control", "Stop"),
              DBUS_ERROR_UNKNOWN_METHOD);
    EXPECT_EQ(g_calls, std::vector<std::string>{
                           "first " + std::string(dbus_bus_get_unique_name(m_client.get()))});
    // A member nobody bound still gets its caller a session (the same one here).
    EXPECT_EQ(call("/ru/quorvex/system/control", "ru.quorvex.system.control", "Unknown"),
              DBUS_ERROR_UNKNOWN_METHOD);
    EXPECT_EQ(m_server.connection_count(), 1u);
    // A client that leaves is forgotten.
    m_client.reset();
    EXPECT_TRUE(zt_testing::wait_until(
        [&] {
            g_main_context_iteration(nullptr, FALSE);
            return m_server.connection_count() == 0;
        },
        10s));

    // A signal needs the connection, and a stop is final.
    EXPECT_TRUE(m_server.emit_signal(dbus_iface::signal::shutdown(), ec)) << ec.message();
    m_server.create_loop();
    m_server.stop();
    m_server.stop();
    m_server.start();  // returns at once: the loop is gone
    EXPECT_FALSE(m_server.is_connected());
    EXPECT_FALSE(m_server.emit_signal(dbus_iface::signal::shutdown(), ec));
    EXPECT_EQ(ec, network_error::disconnected);
}

}  // namespace
