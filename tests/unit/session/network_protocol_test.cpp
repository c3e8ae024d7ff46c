#include "session/network_protocol.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbus/dbus_iface.h"
#include "session/network_error.h"
#include "test_bus.h"
#include "testing/required_environment.h"

namespace {

using bytes = std::vector<unsigned char>;
using total = network_protocol::total;
const char* const kPath = "/test/echo";
const char* const kInterface = "test.echo";
const bytes kData = {0x00, 0x10, 0xFF, 0x7F};
const std::error_code kInvalid = make_error_code(network_error::invalid_argument);
const std::error_code kNotProcessed = make_error_code(network_error::message_not_processed);

using test_bus::bus_connection;
using test_bus::connect_to;
using test_bus::private_bus;

// An address in the test service's own vocabulary.
test_bus::address test_address(std::string member) {
    return {"echo", std::move(member)};
}

// The reply layouts of the daemon side, as the echo service answers "Layout" (w1 = index).
struct layout {
    const char* signature;
    std::function<bool(network_protocol&, std::error_code&)> respond;
    total values;
};
const layout kLayouts[] = {
    {"ay", [](auto& p, auto& ec) { return p.response(kData, ec); }, {0, 0, 0, kData}},
    {"ay", [](auto& p, auto& ec) { return p.response(bytes{}, ec); }, {0, 0, 0, {}}},
    {"uu", [](auto& p, auto& ec) { return p.response(2, 128, ec); }, {2, 128, 0, {}}},
    {"uuay", [](auto& p, auto& ec) { return p.response(2, 128, kData, ec); }, {2, 128, 0, kData}},
    {"uuu", [](auto& p, auto& ec) { return p.response(2, 128, ~0u, ec); }, {2, 128, ~0u, {}}},
    {"uuuay",
     [](auto& p, auto& ec) { return p.response(2, 128, 7, kData, ec); },
     {2, 128, 7, kData}},
};

// What the echo service saw of one incoming call or signal.
struct seen_message {
    int type;
    std::string sender, address, signature;
    bool no_reply;
    total values;
};

// A private bus, a client connection and an echo service on its own connection and thread,
// built on the daemon-side operations: "Echo" answers (w1, w2, w3, data) as read by
// receive_total, "EchoBytes" the bytes read by receive, "Layout" uses kLayouts[w1], "Fail"
// answers with an error, others never answer. The service also hears the daemon's signals.
class NetworkProtocolBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (m_bus.address.empty()) {
            ZT_SKIP_UNLESS_REQUIRED("dbus-daemon did not start (is it installed?)");
        }
        m_client = connect_to(m_bus.address);
        m_service = connect_to(m_bus.address);
        ASSERT_TRUE(m_client && m_service);
        m_name = dbus_bus_get_unique_name(m_service.get());
        dbus_bus_add_match(m_service.get(), "type='signal',interface='ru.quorvex.signal.action'",
                           nullptr);
        m_thread = std::jthread([this](std::stop_token stop) { serve(stop); });
    }

    // A client transport addressed to the echo service's member.
    network_protocol client_for(const std::string& member) {
        network_protocol client;
        client.set_connection(m_client.get());
        client.set_destination(m_name);
        client.set_interface(test_address(member));
        return client;
    }

    // Every message the service has handled so far; a request it answered was handled
    // after whatever the client sent before it, as the bus keeps their order.
    std::vector<seen_message> seen() {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    void serve(const std::stop_token& stop) {
        network_protocol service;
        service.set_connection(m_service.get());
        while (!stop.stop_requested()) {
            dbus_connection_read_write(m_service.get(), 20);
            while (DBusMessage* raw = dbus_connection_pop_message(m_service.get())) {
                dbus_handle::message_ptr message(raw);
                if (!dbus_message_has_sender(raw, DBUS_SERVICE_DBUS)) {  // not NameAcquired
                    handle(service, raw);
                }
            }
        }
    }

    void handle(network_protocol& service, DBusMessage* message) {
        service.set_message(message);
        const std::string member = service.get_sender_method();
        const seen_message record{
            dbus_message_get_type(message),
            service.get_sender_id(),
            service.get_sender_path() + " " + service.get_sender_interface() + "." + member,
            dbus_message_get_signature(message),
            static_cast<bool>(dbus_message_get_no_reply(message)),
            service.receive_total()};
        {
            std::lock_guard lock(m_mutex);
            m_seen.push_back(record);
        }
        std::error_code ec;
        const auto& [w1, w2, w3, data] = record.values;
        if (member == "Echo") {
            service.response(w1, w2, w3, data, ec);
        } else if (member == "EchoBytes") {
            service.response(service.receive(), ec);
        } else if (member == "Layout" && w1 < std::size(kLayouts)) {
            kLayouts[w1].respond(service, ec);
        } else if (member == "Fail") {
            dbus_handle::message_ptr error(
                dbus_message_new_error(message, "test.echo.Error.Refused", "refused"));
            dbus_connection_send(m_service.get(), error.get(), nullptr);
            dbus_connection_flush(m_service.get());
        }
    }

    private_bus m_bus;
    bus_connection m_client, m_service;
    std::string m_name;
    std::mutex m_mutex;
    std::vector<seen_message> m_seen;
    std::jthread m_thread;  // last: stopped and joined before the rest goes
};

// Each reply layout reaches a plain libdbus client with its own signature.
TEST_F(NetworkProtocolBus, ResponseLayoutsArriveWithTheirSignatures) {
    for (dbus_uint32_t index = 0; index < std::size(kLayouts); ++index) {
        SCOPED_TRACE(index);
        dbus_handle::message_ptr call(
            dbus_message_new_method_call(m_name.c_str(), kPath, kInterface, "Layout"));
        dbus_message_append_args(call.get(), DBUS_TYPE_UINT32, &index, DBUS_TYPE_INVALID);
        dbus_handle::message_ptr reply(
            dbus_connection_send_with_reply_and_block(m_client.get(), call.get(), 10000, nullptr));
        ASSERT_TRUE(reply);
        EXPECT_EQ(dbus_message_get_type(reply.get()), DBUS_MESSAGE_TYPE_METHOD_RETURN);
        EXPECT_STREQ(dbus_message_get_signature(reply.get()), kLayouts[index].signature);
        network_protocol client;
        client.set_message(reply.get());
        EXPECT_EQ(client.receive_total(), kLayouts[index].values);
    }
}

// A send is flagged as expecting no reply, a signal carries no arguments, a request waits
// for its answer; the service reads ("u" 2, "u" 16, "ay" data) as (2, 16, 0, data).
TEST_F(NetworkProtocolBus, SendSignalAndRequestCarryTheirArguments) {
    std::error_code ec;
    ASSERT_TRUE(client_for("Record").send(2, 16, kData, ec)) << ec.message();
    network_protocol signal;
    signal.set_connection(m_client.get());
    signal.set_interface(dbus_iface::signal::shutdown());
    ASSERT_TRUE(signal.emit_signal(ec)) << ec.message();
    network_protocol client = client_for("Echo");
    ASSERT_TRUE(client.request(2, 16, kData, ec)) << ec.message();
    EXPECT_EQ(client.receive_total(ec), total(2, 16, 0, kData));
    EXPECT_FALSE(ec);
    const auto call = DBUS_MESSAGE_TYPE_METHOD_CALL;
    const std::string shutdown = "/ru/quorvex/signal ru.quorvex.signal.action.Shutdown";
    const struct {
        int type;
        std::string address, signature;
        bool no_reply;
        total values;
    } expected[] = {
        // clang-format off
        {call, "/test/echo test.echo.Record", "uuay", true, {2, 16, 0, kData}},
        {DBUS_MESSAGE_TYPE_SIGNAL, shutdown, "", true, {}},
        {call, "/test/echo test.echo.Echo", "uuay", false, {2, 16, 0, kData}},
        // clang-format on
    };
    const auto heard = seen();
    ASSERT_EQ(heard.size(), std::size(expected));
    for (std::size_t i = 0; i < heard.size(); ++i) {
        const auto& h = heard[i];
        const auto& e = expected[i];
        EXPECT_EQ(std::tie(h.type, h.address, h.signature, h.no_reply, h.values),
                  std::tie(e.type, e.address, e.signature, e.no_reply, e.values));
        EXPECT_EQ(h.sender, dbus_bus_get_unique_name(m_client.get()));
    }
}

// An error reply, or none before the timeout, means "not processed"; an error reply also
// clears the message read before.
TEST_F(NetworkProtocolBus, FailedRequestIsNotProcessed) {
    network_protocol client = client_for("EchoBytes");
    std::error_code ec;
    ASSERT_TRUE(client.request(kData, ec));
    ASSERT_EQ(client.receive(), kData);
    client.set_interface(test_address("Fail"));
    EXPECT_FALSE(client.request(kData, ec));
    EXPECT_EQ(ec, kNotProcessed);
    EXPECT_TRUE(client.receive(ec).empty());
    EXPECT_EQ(ec, kInvalid);

    client.set_interface(test_address("Ignore"));
    client.set_timeout(200);
    EXPECT_FALSE(client.request(1, 2, ec));
    EXPECT_EQ(ec, kNotProcessed);
}

// Without a destination, or with a malformed name (on which the bus library would abort the
// process), nothing is sent.
TEST_F(NetworkProtocolBus, UnaddressableMessagesAreInvalidArguments) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "Echo"}, {"not a bus name", "Echo"}, {m_name, "Bad.Member"}};
    std::error_code ec;
    for (const auto& [destination, member] : cases) {
        network_protocol client = client_for(member);
        client.set_destination(destination);
        EXPECT_FALSE(client.request(1, 2, ec));
        EXPECT_EQ(ec, kInvalid) << member;
        EXPECT_FALSE(client.send(1, 2, ec));
        EXPECT_EQ(ec, kInvalid) << member;
    }
    EXPECT_FALSE(client_for("Bad.Member").emit_signal(ec));
    EXPECT_EQ(ec, kInvalid);
    ASSERT_TRUE(client_for("Echo").request(3, 4, ec));
    EXPECT_EQ(seen().size(), 1u);  // only the addressed call reached the service
}

// Without a current message, or with one that never went over a bus (no serial to answer:
// the bus library would abort the process), or with an array too long for the bus, nothing
// is sent.
TEST_F(NetworkProtocolBus, UnsendableResponseSendsNothing) {
    network_protocol service;
    service.set_connection(m_client.get());
    std::error_code ec;
    EXPECT_FALSE(service.response(kData, ec));
    EXPECT_EQ(ec, kInvalid);
    dbus_handle::message_ptr call(
        dbus_message_new_method_call(m_name.c_str(), kPath, kInterface, "Any"));
    service.set_message(call.get());
    EXPECT_FALSE(service.response(1, 2, ec));
    EXPECT_EQ(ec, kInvalid);

    dbus_message_set_serial(call.get(), 1);  // as if it had come from the bus
    const bytes too_long(static_cast<std::size_t>(DBUS_MAXIMUM_ARRAY_LENGTH) + 1, 0x11);
    EXPECT_FALSE(service.response(1, 2, too_long, ec));
    EXPECT_EQ(ec, std::error_code(ENOBUFS, std::generic_category()));
    EXPECT_EQ(dbus_connection_get_outgoing_size(m_client.get()), 0);
}

TEST_F(NetworkProtocolBus, ClosedConnectionIsDisconnected) {
    bus_connection closing = connect_to(m_bus.address);
    ASSERT_TRUE(closing);
    dbus_handle::message_ptr call(
        dbus_message_new_method_call(m_name.c_str(), kPath, kInterface, "Any"));
    network_protocol transport = client_for("Any");
    transport.set_connection(closing.get());
    transport.set_message(call.get());
    ASSERT_TRUE(transport.connected());
    dbus_connection_close(closing.get());
    EXPECT_FALSE(transport.connected());
    std::error_code ec[4];
    const bool sent[] = {transport.response(kData, ec[0]), transport.request(1, 2, ec[1]),
                         transport.send(kData, ec[2]), transport.emit_signal(ec[3])};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(sent[i]) << i;
        EXPECT_EQ(ec[i], make_error_code(network_error::disconnected)) << i;
    }
    // The failed operations left the current message in place.
    EXPECT_EQ(transport.get_sender_method(), "Any");
}

// A transport reading a locally built call with these arguments; it keeps its own reference,
// so the message outlives the builder's. The reading side needs no bus.
template <typename... Arguments>
network_protocol reading(Arguments... arguments) {
    dbus_handle::message_ptr message(
        dbus_message_new_method_call("org.example.Service", kPath, kInterface, "Any"));
    dbus_message_append_args(message.get(), arguments..., DBUS_TYPE_INVALID);
    network_protocol transport;
    transport.set_message(message.get());
    return transport;
}

TEST(NetworkProtocolReceive, ReadsLeadingWordsThenBytes) {
    const dbus_uint32_t word = 9;
    const char* text = "not bytes";
    struct {
        network_protocol transport;
        total values;
        std::error_code error;
    } cases[] = {
        {reading(DBUS_TYPE_STRING, &text), {0, 0, 0, {}}, {}},
        {reading(DBUS_TYPE_UINT32, &word), {9, 0, 0, {}}, {}},
        // Words stop at the first argument that is not "u".
        {reading(DBUS_TYPE_UINT32, &word, DBUS_TYPE_STRING, &text, DBUS_TYPE_UINT32, &word),
         {9, 0, 0, {}},
         {}},
        {reading(), {0, 0, 0, {}}, kInvalid},
        {network_protocol(), {0, 0, 0, {}}, kInvalid},  // no message at all
    };
    for (auto& [transport, values, error] : cases) {
        std::error_code ec = network_error::disconnected;
        EXPECT_TRUE(transport.receive(ec).empty());  // no "ay" first: empty
        EXPECT_EQ(ec, error);
        EXPECT_EQ(transport.receive_total(ec), values);
        EXPECT_EQ(ec, error);
    }
    EXPECT_TRUE(cases[0].transport.is_received_method(kInterface, "Any"));
    EXPECT_FALSE(cases[0].transport.is_received_method(kInterface, "Other"));
    EXPECT_FALSE(cases[4].transport.is_received_method(kInterface, "Any"));
}

}  // namespace
