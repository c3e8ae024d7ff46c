// The real daemon's sessions, driven on its private system bus: both handshakes, the
// handshake's refusals as the wire and the journal show them, the dispatch of calls that
// have no handler or no session, and clients that cannot prove the account's token.

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "service_client.h"

namespace service_test {
namespace {

using Session = ServiceTest;

// One daemon through its sessions' life, each part on clients of its own: the handshake's
// refusals first (their warnings are looked up in the whole log), the two handshakes, the
// switches, the clear "Close", a client without the token, a second daemon, and calls that
// no handler takes, which still make a session that the final stop tells "Shutdown".
TEST_F(Session, HandshakesRefusalsAndStrangersOnOneDaemon) {
    {
        // Each row starts a fresh client, runs its steps (all accepted) and then the call under
        // test: its answer on the wire (nothing, a bus error, or words) and its warning.
        struct step {
            const dbus_iface::iface& to;
            words values;
        };
        const ds::session::open open;
        const ds::session::auth::set_auth_data auth;
        const ds::session::switch_context switch_to;
        const ds::session::setup setup;
        const ds::session::setup_complete complete;
        const std::vector<step> clear = {{open, {4, 4}}, {auth, {7, 4}}, {switch_to, {512, 4}}};
        std::vector<step> authenticated = clear;
        authenticated.push_back({switch_to, {16, 4}});
        std::vector<step> secured = clear;
        secured.push_back({open, {8, 4}});

        struct row {
            std::vector<step> before;
            step call;
            std::optional<words> answer;  // nothing: no answer at all
            std::string error;            // a bus error instead of words
            std::string warning;
        };
        const std::string unknown = DBUS_ERROR_UNKNOWN_METHOD;
        const row rows[] = {
            {{{open, {4, 4}}},
             {open, {4, 4}},
             std::nullopt,
             "",
             "Unable to open a session: Session already established"},
            {{},
             {open, {8, 4}},
             words{8, 64, 2},
             "",
             "Unable to open a session: Current session not authorized"},
            {{},
             {open, {5, 4}},
             std::nullopt,
             "",
             "Unable to open a session: Invalid start condition"},
            {{},
             {auth, {7, 4}},
             words{},
             unknown,
             "Unable to auth a session: Session not established"},
            {authenticated,
             {complete, {128, 128}},
             words{128, 64, 2},
             "",
             "Unable to complete session setup: Bad header"},
            // A wrong sub-step is refused without an error code of its own.
            {secured,
             {setup, {256, 64}},
             words{256, 64, 2},
             "",
             "Unable to setup a session: Success"},
            // Without a token in the key, the handshake is not allowed to complete.
            {secured,
             {complete, {128, 128}},
             words{128, 64, 2},
             "",
             "Unable to complete session setup: Success"},
        };
        for (const auto& r : rows) {
            SCOPED_TRACE(r.warning);
            client c = connect();
            for (const auto& s : r.before) {
                ASSERT_TRUE(c.call(s.to, s.values).answered) << s.to.method();
            }
            const reply got = c.call(r.call.to, r.call.values);
            ASSERT_EQ(got.answered, r.answer.has_value());
            if (got.answered) {
                EXPECT_EQ(got.error, r.error);
                EXPECT_EQ(got.values, *r.answer);
            }
            EXPECT_TRUE(m_box->journal().wait_for(
                [&](const auto& e) { return e.message() == r.warning && e.priority() == "4"; },
                10s));
        }
    }
    {
        client plain = connect();
        ASSERT_EQ(plain.call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));
        const reply_builder clear_key = plain.clear_request(ds::service::get_public_key(), {});
        ASSERT_EQ(clear_key.status().value(), 0u);
        ASSERT_FALSE(clear_key.buffer().empty());
        const reply_builder stranger =
            plain.clear_request(ds::user_manage::common::get_container(), client::text("nobody"));
        EXPECT_EQ(std::tuple(stranger.error().value(), stranger.error().category()),
                  std::tuple(1029, std::string("database")));

        for (const bool authenticated : {false, true}) {
            SCOPED_TRACE(authenticated ? "authenticated" : "not authenticated");
            client c = connect();
            ASSERT_TRUE(c.secure(authenticated, m_token)) << c.failed_step();

            packet answer = c.secure_request(ds::service::get_public_key(), {});
            EXPECT_EQ(std::tuple(answer.header, answer.metadata), std::tuple(1u, 128u));
            EXPECT_EQ(reply_builder(answer.data).buffer(), clear_key.buffer());
            // A request without a body in the short flat form is accepted as well.
            answer = c.secure_call(ds::service::get_public_key(), serialize(1, 16));
            EXPECT_EQ(reply_builder(answer.data).buffer(), clear_key.buffer());

            // The opened session keeps the account it was opened for.
            answer =
                c.secure_request(ds::user_manage::common::get_container(), client::text("admin"));
            EXPECT_EQ(reply_builder(answer.data).error().value(), 8193);

            const packet closed = c.secure_call(ds::session::close(), serialize(64, 4));
            EXPECT_EQ(std::tuple(closed.header, closed.metadata, closed.status),
                      std::tuple(64u, 64u, 1u));
        }
        EXPECT_TRUE(logged("6", "The request was processed: SetupComplete"));
    }
    {
        client c = connect();
        ASSERT_TRUE(c.start_secure(false)) << c.failed_step();
        c.finish_keys();  // the key as it stands before any token
        EXPECT_EQ(c.secure_call(ds::session::switch_context(), serialize(512, 4)).metadata, 64u);
        // The switch went back to the start: the clear session is open again.
        EXPECT_EQ(c.call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));

        client other = connect();
        ASSERT_TRUE(other.start_secure(false)) << other.failed_step();
        other.finish_keys();
        EXPECT_EQ(
            other.call_words(ds::session::switch_context(), {}, other.encrypted(serialize(16, 4))),
            (words{16, 64, 1}));
    }
    {
        client c = connect();
        ASSERT_EQ(c.call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));
        EXPECT_EQ(c.call_words(ds::session::close(), {32, 2}), std::nullopt);
        EXPECT_EQ(c.call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));
    }
    {
        // The session key depends on the account's token, and every request of an encrypted session
        // is checked before a handler sees it: a client that does not hold the token cannot get one
        // request accepted, not even "Stop" as root.
        bytes wrong = m_token;
        wrong[0] ^= 0x01;
        client c = connect();
        ASSERT_TRUE(c.secure(false, wrong)) << c.failed_step();
        EXPECT_FALSE(c.secure_request(ds::control::stop(), {}));
        EXPECT_FALSE(c.secure_request(ds::service::get_public_key(), {}));
        EXPECT_TRUE(m_box->journal().wait_for(
            [](const auto& e) {
                return e.message() == "Unable to accept the request: Data corrupted" &&
                       e.priority() == "4";
            },
            10s));
        EXPECT_FALSE(logged("6", "Stopping the daemon"));
        EXPECT_TRUE(m_daemon.running());

        // Skipping the token: the handshake does not complete and no request is served.
        client skipping = connect();
        EXPECT_FALSE(skipping.secure(false, std::nullopt));
        EXPECT_EQ(skipping.failed_step(), "SetupComplete 128");
        EXPECT_EQ(skipping.call_once(ds::status::get_info(), {}).message,
                  "Session isn't established");
    }
    {
        zt_testing::child_process second = m_box->start_daemon();
        EXPECT_EQ(wait_for_exit(second), 0);
        EXPECT_TRUE(logged("3", "System failure: Bus already in use"));
        EXPECT_TRUE(m_daemon.running());
        EXPECT_EQ(connect().call_words(ds::session::open(), {4, 4}), (words{4, 64, 1}));
    }
    {
        // A call reaches a handler only under the path it names, and a call that no handler takes
        // is still the caller's first message: its session exists, so a stop says "Shutdown" to it.
        client c = connect();
        dbus_bus_add_match(c.connection(),
                           "type='signal',path='/ru/quorvex/signal',interface='ru.quorvex.signal."
                           "action',member='Shutdown'",
                           nullptr);
        const reply unknown = c.call_once(
            address("/ru/quorvex/system/session", "ru.quorvex.system.session", "Unknown"));
        EXPECT_EQ(unknown.error, DBUS_ERROR_UNKNOWN_METHOD);
        const reply elsewhere = c.call_once(
            address("/ru/quorvex/system/control", "ru.quorvex.system.service", "GetPublicKey"));
        EXPECT_EQ(elsewhere.error, DBUS_ERROR_UNKNOWN_METHOD);
        // A request before the session has a context cannot be answered inside one.
        const reply early = c.call_once(ds::status::get_info(), {2, 16});
        EXPECT_EQ(std::tuple(early.error, early.message),
                  std::tuple(std::string("ru.quorvex.server.Error"),
                             std::string("Session isn't established")));

        m_daemon.signal(SIGTERM);
        bool shutdown = false;
        zt_testing::wait_until(
            [&] {
                dbus_connection_read_write(c.connection(), 10);
                while (zt_testing::message_ptr m{dbus_connection_pop_message(c.connection())}) {
                    shutdown = shutdown || dbus_message_is_signal(
                                               m.get(), "ru.quorvex.signal.action", "Shutdown");
                }
                return shutdown;
            },
            20s);
        EXPECT_TRUE(shutdown);
        EXPECT_EQ(wait_for_exit(m_daemon), 0);
    }
}

}  // namespace
}  // namespace service_test
