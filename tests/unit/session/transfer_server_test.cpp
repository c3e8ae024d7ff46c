#include "session/transfer_server.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/crypto_error.h"
#include "fake_provider.h"
#include "session/network_error.h"
#include "session/transfer_error.h"
#include "session/transfer_session.h"
#include "session_peer.h"
#include "test_bus.h"
#include "testing/required_environment.h"

namespace {

using bytes = std::vector<unsigned char>;
using total = network_protocol::total;
using words3 = std::array<std::uint32_t, 3>;
using step = std::function<bool(transfer_session&, std::error_code&)>;

const bytes kToken = {0x70, 0x61, 0x72, 0x61, 0x6D};
const bytes kIv(16, 0x3C);
const bytes kBody = {'m', 'o', 'u', 'n', 't'};
const bytes kReply = {0x00, 0x01, 0x02};
const std::wstring kSealPassword = L"peer";  // seals keys between the peer's own objects

// What a call carries: plain words and a payload, one byte array, the words as a packet the
// peer encrypts when the call is made, or no argument at all.
struct call_args {
    enum class form { words, array, sealed, none } kind = form::words;
    std::uint32_t header = 0, metadata = 0, status = kStatusNone;
    bytes data;
};
call_args plain(std::uint32_t h, std::uint32_t m, bytes data = {}) {
    return {call_args::form::words, h, m, kStatusNone, std::move(data)};
}
call_args array(bytes data) {
    return {call_args::form::array, 0, 0, 0, std::move(data)};
}
call_args sealed_words(std::uint32_t h, std::uint32_t m) {
    return {call_args::form::sealed, h, m, kStatusNone, {}};
}
const call_args kZeroWords{call_args::form::words, 0, 0, 0, {}};
const call_args kNoArguments{call_args::form::none, 0, 0, 0, {}};

// How one call went: what the step returned, and the answer the client received (if any),
// read as leading words and a byte array.
struct outcome {
    bool done = false;
    std::error_code ec;
    std::optional<total> reply;
};

words3 words_of(const total& t) {
    return {std::get<0>(t), std::get<1>(t), std::get<2>(t)};
}
words3 words_of(const packet& p) {
    return {p.header, p.metadata, p.status};
}

// A private bus with a client connection and the daemon's: each exchange() sends one call
// from the client, serves it on the daemon side with a step of the session, and collects
// the answer. A marker call answered after the step shows that no answer came when none
// arrived before it (the bus keeps the order of one sender's messages).
class SessionBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (m_bus.address.empty()) {
            ZT_SKIP_UNLESS_REQUIRED("dbus-daemon did not start (is it installed?)");
        }
        m_client = test_bus::connect_to(m_bus.address);
        m_server = test_bus::connect_to(m_bus.address);
        ASSERT_TRUE(m_client && m_server);
        m_name = dbus_bus_get_unique_name(m_server.get());
        fresh_session();
    }

    void fresh_session() {
        m_session.emplace();
        m_session->protocol().network().set_connection(m_server.get());
        m_peer.emplace(m_factory);
    }

    // The next message on connection that did not come from the bus itself.
    static dbus_handle::message_ptr next_message(DBusConnection* connection) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            while (DBusMessage* raw = dbus_connection_pop_message(connection)) {
                dbus_handle::message_ptr message(raw);
                if (!dbus_message_has_sender(raw, DBUS_SERVICE_DBUS)) {
                    return message;
                }
            }
            dbus_connection_read_write(connection, 100);
        }
        ADD_FAILURE() << "no message before the deadline";
        return nullptr;
    }

    dbus_uint32_t send_call(call_args args, const char* member = "Step") {
        if (args.kind == call_args::form::sealed) {
            args = array(sealed(serialize(args.header, args.metadata)));
        }
        dbus_handle::message_ptr call(
            dbus_message_new_method_call(m_name.c_str(), "/test/session", "test.session", member));
        DBusMessageIter iter;
        dbus_message_iter_init_append(call.get(), &iter);
        if (args.kind == call_args::form::words) {
            for (dbus_uint32_t word : {args.header, args.metadata, args.status}) {
                dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &word);
            }
        }
        if (args.kind != call_args::form::none) {
            DBusMessageIter inner;
            static const unsigned char kNone = 0;  // libdbus wants a pointer even for none
            const unsigned char* elements = args.data.empty() ? &kNone : args.data.data();
            dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "y", &inner);
            dbus_message_iter_append_fixed_array(&inner, DBUS_TYPE_BYTE, &elements,
                                                 static_cast<int>(args.data.size()));
            dbus_message_iter_close_container(&iter, &inner);
        }
        dbus_uint32_t serial = 0;
        dbus_connection_send(m_client.get(), call.get(), &serial);
        dbus_connection_flush(m_client.get());
        return serial;
    }

    // Serves the call on target (the fixture's session by default).
    outcome exchange(const call_args& args, const step& run, transfer_session* target = nullptr) {
        transfer_session& session = target != nullptr ? *target : *m_session;
        const dbus_uint32_t serial = send_call(args);
        const dbus_uint32_t marker = send_call(kNoArguments, "Marker");
        outcome out;
        dbus_handle::message_ptr call = next_message(m_server.get());
        if (!call) {
            return out;
        }
        session.protocol().network().set_message(call.get());
        out.done = run(session, out.ec);
        dbus_handle::message_ptr mark = next_message(m_server.get());
        if (!mark) {
            return out;
        }
        dbus_handle::message_ptr done(dbus_message_new_method_return(mark.get()));
        dbus_connection_send(m_server.get(), done.get(), nullptr);
        dbus_connection_flush(m_server.get());
        while (dbus_handle::message_ptr reply = next_message(m_client.get())) {
            const dbus_uint32_t to = dbus_message_get_reply_serial(reply.get());
            if (to == marker) {
                break;
            }
            if (to == serial) {
                EXPECT_EQ(dbus_message_get_type(reply.get()), DBUS_MESSAGE_TYPE_METHOD_RETURN);
                network_protocol reader;
                reader.set_message(reply.get());
                out.reply = reader.receive_total();
            }
        }
        return out;
    }

    // The encrypted packet of an answer, as the client decodes it.
    packet opened(const outcome& out) {
        std::error_code ec;
        return out.reply ? deserialize(m_peer->decrypt(std::get<3>(*out.reply)), ec) : packet();
    }
    bytes sealed(const bytes& flat) { return m_peer->encrypt(flat); }

    // The handshake frames' calls into the session.
    template <bool (transfer_server::*Step)(std::error_code&)>
    static bool call(transfer_session& s, std::error_code& ec) {
        return (s.protocol().*Step)(ec);
    }
    static constexpr auto open = call<&transfer_server::open>;
    static constexpr auto switch_to = call<&transfer_server::switch_context>;
    static constexpr auto establish = call<&transfer_server::establish>;
    static constexpr auto complete = call<&transfer_server::setup_complete>;
    static constexpr auto close = call<&transfer_server::close>;
    bool authenticate(transfer_session& s, std::error_code& ec) {
        return s.protocol().init_crypto(m_factory, ec) &&
               s.protocol().authenticate(
                   std::make_shared<const std::wstring>(peer::kServicePassword), m_container, ec);
    }
    static step apply(bytes token) {
        return [token](transfer_session& s, std::error_code& ec) {
            return s.protocol().apply_token(token, ec);
        };
    }
    // A request as the dispatch and a handler serve it: the check, the body (into body), an
    // answer.
    static step serving(bytes& body) {
        return [&body](transfer_session& s, std::error_code& ec) {
            if (!s.protocol().verify_request(1, 16, ec)) {
                return false;
            }
            body = s.protocol().context()->receive(ec);
            return !ec && s.protocol().context()->response(kReply, ec);
        };
    }

    struct handshake_step {
        std::string name;
        call_args args;
        step run;
        words3 answer;
    };

    // The calls of one handshake sequence of the current peer, each with its answer.
    std::vector<handshake_step> sequence(bool authenticated) {
        const auto auth = [this](transfer_session& s, std::error_code& ec) {
            return authenticate(s, ec);
        };
        const std::uint32_t setup = authenticated ? 256 : 128;
        return {
            {"Open clear", plain(4, 4), open, {4, 64, 1}},
            {"SetAuthData", plain(7, 4), auth, {7, 5, 1}},
            {"SwitchContext reset", plain(512, 4), switch_to, {512, 64, 1}},
            authenticated
                ? handshake_step{"SwitchContext auth", plain(16, 4), switch_to, {16, 64, 1}}
                : handshake_step{"Open secure", plain(8, 4), open, {8, 64, 1}},
            {"key material", plain(256, 8, m_peer->key_material()), establish, {256, 64, 1}},
            {"answer material", plain(256, 16), establish, {256, 128, 1}},
            {"IV", plain(256, 32, kIv), establish, {256, 64, 1}},
            {"token", plain(256, 4), apply(kToken), {256, 64, 1}},
            {"SetupComplete", plain(setup, 128), complete, {setup, 64, 1}},
        };
    }
    static constexpr std::size_t kOpened = 1, kSecured = 4, kKeyed = 7;

    // Runs the first count steps; the peer completes its agreement from the answer material
    // under m_peer_token.
    void run(const std::vector<handshake_step>& steps, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(steps[i].name);
            const outcome out = exchange(steps[i].args, steps[i].run);
            ASSERT_TRUE(out.reply);
            EXPECT_EQ(words_of(*out.reply), steps[i].answer);
            EXPECT_EQ(out.done, steps[i].answer[2] == kStatusAccepted) << out.ec.message();
            if (words_of(*out.reply) == words3{256, 128, 1}) {
                m_peer->set_private_parameter(m_peer_token);
                m_peer->finish(std::get<3>(*out.reply), kSealPassword, kIv);
            }
        }
    }

    test_bus::private_bus m_bus;
    test_bus::bus_connection m_client, m_server;
    std::string m_name;
    crypto_factory m_factory = fake::seeded();
    bytes m_container = peer::make_container(m_factory, peer::kServicePassword);
    std::optional<transfer_session> m_session;
    std::optional<peer::client> m_peer;
    bytes m_peer_token = kToken;
};

// Both sequences end in an encrypted session; moved into the server's table, it checks,
// reads and answers a request encrypted, and "Close" confirms encrypted and drops the keys.
TEST_F(SessionBus, BothHandshakesEndInAnEncryptedSession) {
    for (const bool authenticated : {false, true}) {
        SCOPED_TRACE(authenticated ? "authenticated" : "not authenticated");
        fresh_session();
        const auto steps = sequence(authenticated);
        ASSERT_NO_FATAL_FAILURE(run(steps, steps.size()));
        transfer_session moved(std::move(*m_session));
        EXPECT_EQ(m_session->protocol().context(), nullptr);
        transfer_server& server = moved.protocol();
        EXPECT_TRUE(server.is_session_established() && server.is_session_secured());
        EXPECT_EQ(server.is_session_authenticated(), authenticated);

        bytes body;
        const outcome out =
            exchange(array(sealed(serialize(1, 16, 7, kBody))), serving(body), &moved);
        EXPECT_TRUE(out.done) << out.ec.message();
        EXPECT_EQ(body, kBody);
        EXPECT_EQ(words_of(opened(out)), (words3{1, 128, 4}));
        EXPECT_EQ(opened(out).data, kReply);

        const outcome closed = exchange(array(sealed(serialize(64, 4))), close, &moved);
        EXPECT_TRUE(closed.done) << closed.ec.message();
        EXPECT_EQ(words_of(opened(closed)), (words3{64, 64, 1}));
        EXPECT_FALSE(server.is_session_established() || server.is_session_secured());
        EXPECT_EQ(server.context(), nullptr);
        EXPECT_FALSE(server.has_credential() || server.crypto().ready());
        EXPECT_EQ(server.is_session_authenticated(), authenticated);
    }
}

// The session key depends on the account's token, and a handshake without it never opens:
// a client that skips the token, or uses another one, gets no request accepted (the right
// token in its place opens one, as in the test above).
TEST_F(SessionBus, OnlyTheAccountsTokenOpensASession) {
    using edit = std::function<void(std::vector<handshake_step>&)>;
    const auto refused_token = [](auto& s) {
        s[7].run = apply({});
        s[7].answer = {256, 64, 2};
    };
    const std::error_code accepted;
    const struct {
        const char* name;
        bytes peer_token;
        edit change;
        std::error_code complete_error;
        std::optional<std::error_code> request_error;  // none: SetupComplete refused
    } cases[] = {
        {"token before the IV", kToken, [](auto& s) { std::swap(s[6], s[7]); }, {}, accepted},
        {"client uses another token", {9, 9}, nullptr, {}, transfer_error::data_corrupted},
        {"client uses no token", {}, nullptr, {}, transfer_error::data_corrupted},
        {"token skipped", kToken, [](auto& s) { s.erase(s.begin() + 7); }, {}, std::nullopt},
        {"account without a token", {}, refused_token, {}, std::nullopt},
        {"IV skipped", kToken, [](auto& s) { s.erase(s.begin() + 6); },
         transfer_error::crypto_not_ready, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fresh_session();
        m_peer_token = c.peer_token;
        auto steps = sequence(false);
        if (c.change) {
            c.change(steps);
        }
        ASSERT_NO_FATAL_FAILURE(run(steps, steps.size() - 1));
        const outcome done = exchange(steps.back().args, complete);
        ASSERT_TRUE(done.reply);
        EXPECT_EQ(words_of(*done.reply), (words3{128, 64, c.request_error ? 1u : 2u}));
        EXPECT_EQ(done.ec, c.complete_error);
        if (!c.request_error) {
            EXPECT_FALSE(done.done || m_session->protocol().is_session_established());
            continue;
        }
        bytes body;
        const outcome out = exchange(array(sealed(serialize(1, 16, kBody))), serving(body));
        EXPECT_EQ(out.ec, *c.request_error);
        EXPECT_EQ(out.reply.has_value(), !*c.request_error);
        EXPECT_EQ(body, *c.request_error ? bytes() : kBody);
    }
}

// The handshake's guards and refusals: answer words or no answer, and the error.
TEST_F(SessionBus, HandshakeRefusesOutOfOrderCalls) {
    const auto auth = [this](transfer_session& s, std::error_code& ec) {
        return authenticate(s, ec);
    };
    const std::error_code none;
    const struct {
        const char* name;
        bool authenticated;
        std::size_t prefix;
        call_args args;
        step run;
        std::optional<words3> answer;  // none: nothing answered
        bool done;
        std::error_code ec;
        bool established_after;
    } cases[] = {
        {"Open twice", false, kOpened, plain(4, 4), open, std::nullopt, false,
         transfer_error::already_established, true},
        {"Open secure first", false, 0, plain(8, 4), open, words3{8, 64, 2}, false,
         transfer_error::not_authorized, false},
        {"Open with header 5", false, 0, plain(5, 4), open, std::nullopt, false,
         transfer_error::invalid_start_condition, false},
        {"SetAuthData before Open", false, 0, plain(7, 4), auth, std::nullopt, false,
         transfer_error::not_established, false},
        {"Close (32, 2) of a clear session", false, kOpened, plain(32, 2), close, std::nullopt,
         true, none, false},
        {"SetupComplete 128 when authenticated", true, kSecured, plain(128, 128), complete,
         words3{128, 64, 2}, false, transfer_error::bad_header, false},
        {"setup sub-step 64", false, kSecured, plain(256, 64), establish, words3{256, 64, 2}, false,
         none, false},
        {"material before any import", false, kSecured, plain(256, 16), establish,
         words3{256, 64, 2}, false, transfer_error::invalid_setup_phase, false},
        // The words of the earlier (256, 16) would have the material answered again.
        {"setup call without a packet", false, kSecured + 2, kZeroWords, establish,
         words3{256, 64, 2}, false, transfer_error::bad_data_format, false},
        {"SetupComplete without arguments", false, kKeyed + 1, kNoArguments, complete,
         words3{128, 64, 2}, false, network_error::invalid_argument, false},
        {"SwitchContext 512 when secured", false, kKeyed + 1, sealed_words(512, 4), switch_to,
         words3{512, 64, 1}, true, none, false},
        {"SwitchContext 16 when secured", false, kKeyed + 1, sealed_words(16, 4), switch_to,
         words3{16, 64, 1}, true, none, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fresh_session();
        ASSERT_NO_FATAL_FAILURE(run(sequence(c.authenticated), c.prefix));
        const outcome out = exchange(c.args, c.run);
        EXPECT_EQ(out.done, c.done);
        EXPECT_EQ(out.ec, c.ec) << out.ec.message();
        EXPECT_EQ(out.reply.has_value(), c.answer.has_value());
        if (c.answer && out.reply) {
            // An answer of one byte array is an encrypted packet.
            const packet p = packet(*out.reply) ? packet(*out.reply) : opened(out);
            EXPECT_EQ(words_of(p), *c.answer);
        }
        EXPECT_EQ(m_session->protocol().is_session_established(), c.established_after);
    }
}

// The check before every handler of a secure session: only a readable packet with the
// expected words passes, it is judged on its own words, and nothing is answered on failure.
TEST_F(SessionBus, RequestCheckAcceptsOnlyReadablePacketsWithTheRequestWords) {
    const auto steps = sequence(false);
    ASSERT_NO_FATAL_FAILURE(run(steps, steps.size()));
    bytes flipped = sealed(serialize(1, 16, kBody));
    flipped[5] ^= 0x01;
    const struct {
        const char* name;
        call_args args;
        std::error_code ec;
        bytes body;
    } cases[] = {
        {"long form", array(sealed(serialize(1, 16, kBody))), {}, kBody},
        {"short form, empty body", array(sealed(serialize(1, 16))), {}, {}},
        {"long form, empty body", array(sealed(serialize(1, 16, bytes{}))), {}, {}},
        {"clear header", array(sealed(serialize(2, 16, kBody))), transfer_error::bad_header, {}},
        {"reply words", array(sealed(serialize(1, 128, kBody))), transfer_error::bad_metadata, {}},
        {"all words zero", array(sealed(serialize(0, 0, 0u))), transfer_error::bad_header, {}},
        {"changed ciphertext", array(flipped), transfer_error::data_corrupted, {}},
        {"not whole blocks", array(bytes(15, 1)), transfer_error::data_corrupted, {}},
        {"empty array", array({}), transfer_error::data_corrupted, {}},
        {"plain words", plain(1, 16, kBody), transfer_error::data_corrupted, {}},
        {"no argument", kNoArguments, transfer_error::data_corrupted, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bytes body = {0xEE};
        const outcome out = exchange(c.args, serving(body));
        EXPECT_EQ(out.ec, c.ec) << out.ec.message();
        EXPECT_EQ(out.reply.has_value(), !c.ec);
        EXPECT_EQ(body, c.ec ? bytes{0xEE} : c.body);
    }
}

// An engine at either end of a session that is already set up, for the contexts' own
// exchanges.
struct engine : transfer_protocol {
    void set_up(bool secure) {
        set_established(true);
        set_secured(secure);
        secure ? set_secure_context() : set_unsafe_context();
    }
};

// A client built on the contexts: its one-way data arrives, a confirmed send is confirmed by
// this receiver, and a request gets the receiver's response.
TEST_F(SessionBus, ContextsCarryDataRequestsAndConfirmations) {
    // Both ends share an encrypter that copies bytes, as they have no agreement of their own.
    const crypto_factory copying =
        fake::seeded(fake::factory_with([](fake::script& s) { s.plain_block = 16; }));
    using client_call = std::function<bool(transfer_protocol::transfer_context&, std::error_code&)>;
    const struct {
        const char* name;
        client_call call;
        bool answered;
    } operations[] = {
        {"confirmed send", [](auto& c, auto& ec) { return c.send(kBody, true, ec); }, false},
        {"unconfirmed send", [](auto& c, auto& ec) { return c.send(kBody, false, ec); }, false},
        {"request",
         [](auto& c, auto& ec) {
             return c.request(test_bus::address("session", "Call"), kBody, ec) == kReply;
         },
         true},
    };
    for (const bool secure : {false, true}) {
        engine client, server;
        for (engine* end : {&client, &server}) {
            std::error_code ec;
            peer::client other(m_factory);
            ASSERT_TRUE(end->init_crypto(copying, ec) &&
                        end->auth(std::make_shared<const std::wstring>(peer::kServicePassword),
                                  m_container, ec) &&
                        end->crypto().import_key_material(other.key_material(), ec) &&
                        end->crypto().create_encryptor(kSealPassword, ec) &&
                        end->crypto().set_iv(kIv, ec))
                << ec.message();
            end->set_up(secure);
        }
        client.network().set_connection(m_client.get());
        client.network().set_destination(m_name);
        client.network().set_interface(test_bus::address("session", "Data"));
        server.network().set_connection(m_server.get());
        for (const auto& operation : operations) {
            SCOPED_TRACE(std::string(operation.name) + (secure ? ", secure" : ", clear"));
            auto sent = std::async(std::launch::async, [&] {
                std::error_code ec;
                const bool ok = operation.call(*client.context(), ec);
                return std::make_pair(ok, ec);
            });
            dbus_handle::message_ptr call = next_message(m_server.get());
            ASSERT_TRUE(call);
            server.network().set_message(call.get());
            std::error_code ec;
            EXPECT_EQ(server.context()->receive(ec), kBody) << ec.message();
            if (operation.answered) {
                EXPECT_TRUE(server.context()->response(kReply, ec)) << ec.message();
            }
            const auto [ok, error] = sent.get();
            EXPECT_TRUE(ok) << error.message();
        }
    }
}

// A session starts closed, without access, as a plain user; a move and a context switch
// take a fresh id, the move clears the source, the switch keeps only the caller.
TEST(SessionRecord, IdsAreFreshAndSwitchKeepsTheCaller) {
    using record = std::tuple<std::uint64_t, bool, bool, bool, bool>;  // user, admin, opened, ...
    const auto of = [](const transfer_session& s) {
        return record(s.user_id(), s.is_admin(), s.is_user(), s.is_opened(), s.is_accessed());
    };
    transfer_session first;
    EXPECT_EQ(of(first), record(0, false, true, false, false));
    first.user_id(7);
    first.set_role(true);
    first.open();
    first.set_access(true);
    transfer_session moved(std::move(first));
    EXPECT_NE(moved.id(), first.id());
    EXPECT_EQ(of(first), record(0, false, true, false, false));
    EXPECT_EQ(of(moved), record(7, true, false, true, true));
    const std::uint64_t id = moved.id();
    moved.switch_context();
    EXPECT_NE(moved.id(), id);
    EXPECT_EQ(of(moved), record(7, true, false, false, false));
}

}  // namespace
