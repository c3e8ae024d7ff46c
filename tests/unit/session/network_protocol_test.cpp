#include "session/network_protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbus/dbus_iface.h"
#include "private_bus.h"
#include "session/network_error.h"

namespace {

using bytes = std::vector<unsigned char>;
using clock_type = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);

const char* const kPath = "/test/echo";
const char* const kInterface = "test.echo";

// An address in the test service's own vocabulary.
class test_address : public dbus_iface::iface {
  public:
    explicit test_address(std::string member) : m_member(std::move(member)) {}
    std::string path() const override { return kPath; }
    std::string interface() const override { return kInterface; }
    std::string method() const override { return m_member; }

  private:
    std::string m_member;
};

// The arguments of a message, read with the raw library: the signature and each value.
struct raw_arguments {
    std::string signature;
    std::vector<std::uint32_t> words;
    std::vector<bytes> arrays;
};

raw_arguments read_raw(DBusMessage* message) {
    raw_arguments out;
    out.signature = dbus_message_get_signature(message);
    DBusMessageIter iter;
    if (!dbus_message_iter_init(message, &iter)) {
        return out;
    }
    do {
        const int type = dbus_message_iter_get_arg_type(&iter);
        if (type == DBUS_TYPE_UINT32) {
            dbus_uint32_t v = 0;
            dbus_message_iter_get_basic(&iter, &v);
            out.words.push_back(v);
        } else if (type == DBUS_TYPE_ARRAY) {
            DBusMessageIter array;
            dbus_message_iter_recurse(&iter, &array);
            const unsigned char* p = nullptr;
            int n = 0;
            dbus_message_iter_get_fixed_array(&array, &p, &n);
            out.arrays.emplace_back(p, p + n);
        }
    } while (dbus_message_iter_next(&iter));
    return out;
}

// Waits for the next method call on connection, skipping the bus's own signals.
dbus_handle::message_ptr next_call(DBusConnection* connection) {
    const auto until = clock_type::now() + kDeadline;
    while (clock_type::now() < until) {
        dbus_connection_read_write(connection, 50);
        while (DBusMessage* raw = dbus_connection_pop_message(connection)) {
            dbus_handle::message_ptr message(raw);
            if (dbus_message_get_type(raw) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                return message;
            }
        }
    }
    return nullptr;
}

// What the echo service saw of one incoming message.
struct seen_message {
    int type = 0;
    std::string sender;
    std::string path;
    std::string interface;
    std::string member;
    bool no_reply = false;
    std::string signature;
    network_protocol::total values;
};

// A service on its own connection and thread, built on the daemon-side operations:
// "Echo" answers (w1, w2, w3, data) as read by receive_total, "EchoBytes" answers the
// bytes read by receive, "Fail" answers with an error, "Ignore" never answers. It records
// every method call and every signal it sees.
class echo_service {
  public:
    explicit echo_service(const std::string& address) : m_connection(connect_to(address)) {
        if (!m_connection) {
            return;
        }
        dbus_bus_add_match(m_connection.get(), "type='signal',interface='ru.quorvex.signal.action'",
                           nullptr);
        dbus_connection_flush(m_connection.get());
        m_name = dbus_bus_get_unique_name(m_connection.get());
        m_thread = std::thread([this] { run(); });
    }
    ~echo_service() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    bool ready() const { return m_connection != nullptr; }
    const std::string& name() const { return m_name; }

    std::vector<seen_message> seen() {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    // Waits until at least count messages were seen.
    bool wait_for(std::size_t count) {
        const auto until = clock_type::now() + kDeadline;
        while (clock_type::now() < until) {
            if (seen().size() >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

  private:
    void run() {
        network_protocol service;
        service.set_connection(m_connection.get());
        while (!m_stop) {
            dbus_connection_read_write(m_connection.get(), 20);
            while (DBusMessage* raw = dbus_connection_pop_message(m_connection.get())) {
                dbus_handle::message_ptr message(raw);
                handle(service, raw);
            }
        }
    }

    void handle(network_protocol& service, DBusMessage* message) {
        const int type = dbus_message_get_type(message);
        if (type != DBUS_MESSAGE_TYPE_METHOD_CALL && type != DBUS_MESSAGE_TYPE_SIGNAL) {
            return;
        }
        if (type == DBUS_MESSAGE_TYPE_SIGNAL &&
            std::string(dbus_message_get_interface(message)) == DBUS_INTERFACE_DBUS) {
            return;  // the bus's own NameAcquired
        }
        service.set_message(message);
        seen_message record;
        record.type = type;
        record.sender = service.get_sender_id();
        record.path = service.get_sender_path();
        record.interface = service.get_sender_interface();
        record.member = service.get_sender_method();
        record.no_reply = dbus_message_get_no_reply(message);
        record.signature = dbus_message_get_signature(message);
        record.values = service.receive_total();
        {
            std::lock_guard lock(m_mutex);
            m_seen.push_back(record);
        }
        if (type != DBUS_MESSAGE_TYPE_METHOD_CALL || record.no_reply) {
            return;
        }
        std::error_code ec;
        if (record.member == "Echo") {
            auto [w1, w2, w3, data] = service.receive_total();
            service.response(w1, w2, w3, data, ec);
        } else if (record.member == "EchoBytes") {
            service.response(service.receive(), ec);
        } else if (record.member == "Fail") {
            dbus_handle::message_ptr error(
                dbus_message_new_error(message, "test.echo.Error.Refused", "refused"));
            dbus_connection_send(m_connection.get(), error.get(), nullptr);
            dbus_connection_flush(m_connection.get());
        }
    }

    bus_connection m_connection;
    std::string m_name;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<seen_message> m_seen;
};

class NetworkProtocolBus : public ::testing::Test {
  protected:
    void SetUp() override {
        m_bus = std::make_unique<private_bus>();
        if (m_bus->address().empty()) {
            GTEST_SKIP() << "no private bus: " << m_bus->error();
        }
        m_client_connection = connect_to(m_bus->address());
        ASSERT_TRUE(m_client_connection);
    }

    // A client transport addressed to the echo service's member.
    network_protocol client_for(const echo_service& service, const std::string& member) {
        network_protocol client;
        client.set_connection(m_client_connection.get());
        client.set_destination(service.name());
        client.set_interface(test_address(member));
        return client;
    }

    std::unique_ptr<private_bus> m_bus;
    bus_connection m_client_connection;
};

// Each daemon-side reply layout, checked against the raw signature and values that reach
// a plain libdbus client.
struct layout {
    const char* name;
    std::function<bool(network_protocol&, std::error_code&)> respond;
    const char* signature;
    std::vector<std::uint32_t> words;
    std::vector<bytes> arrays;
};

class NetworkProtocolResponse : public NetworkProtocolBus,
                                public ::testing::WithParamInterface<layout> {};

TEST_P(NetworkProtocolResponse, ArrivesWithItsSignature) {
    bus_connection service_connection = connect_to(m_bus->address());
    ASSERT_TRUE(service_connection);
    dbus_handle::message_ptr call(dbus_message_new_method_call(
        dbus_bus_get_unique_name(service_connection.get()), kPath, kInterface, "Any"));
    DBusPendingCall* raw_pending = nullptr;
    ASSERT_TRUE(dbus_connection_send_with_reply(m_client_connection.get(), call.get(), &raw_pending,
                                                10000));
    dbus_handle::pending_call_ptr pending(raw_pending);
    ASSERT_TRUE(pending);
    dbus_connection_flush(m_client_connection.get());

    dbus_handle::message_ptr received = next_call(service_connection.get());
    ASSERT_TRUE(received);
    network_protocol service;
    service.set_connection(service_connection.get());
    service.set_message(received.get());
    std::error_code ec = network_error::disconnected;
    ASSERT_TRUE(GetParam().respond(service, ec)) << ec.message();
    EXPECT_FALSE(ec);

    dbus_pending_call_block(pending.get());
    dbus_handle::message_ptr reply(dbus_pending_call_steal_reply(pending.get()));
    ASSERT_TRUE(reply);
    EXPECT_EQ(dbus_message_get_type(reply.get()), DBUS_MESSAGE_TYPE_METHOD_RETURN);
    const raw_arguments got = read_raw(reply.get());
    EXPECT_EQ(got.signature, GetParam().signature);
    EXPECT_EQ(got.words, GetParam().words);
    EXPECT_EQ(got.arrays, GetParam().arrays);
}

const bytes kData = {0x00, 0x10, 0xFF, 0x7F};

INSTANTIATE_TEST_SUITE_P(
    Layouts, NetworkProtocolResponse,
    ::testing::Values(
        layout{"Bytes", [](auto& p, auto& ec) { return p.response(kData, ec); }, "ay", {}, {kData}},
        layout{"EmptyBytesStayAnArgument",
               [](auto& p, auto& ec) { return p.response(bytes{}, ec); },
               "ay",
               {},
               {bytes{}}},
        layout{"TwoWords",
               [](auto& p, auto& ec) { return p.response(2, 128, ec); },
               "uu",
               {2, 128},
               {}},
        layout{"TwoWordsAndBytes",
               [](auto& p, auto& ec) { return p.response(2, 128, kData, ec); },
               "uuay",
               {2, 128},
               {kData}},
        layout{"ThreeWords",
               [](auto& p, auto& ec) { return p.response(2, 128, 0xFFFFFFFFu, ec); },
               "uuu",
               {2, 128, 0xFFFFFFFFu},
               {}},
        layout{"ThreeWordsAndBytes",
               [](auto& p, auto& ec) { return p.response(2, 128, 7, kData, ec); },
               "uuuay",
               {2, 128, 7},
               {kData}}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST_F(NetworkProtocolBus, RequestCarriesWordsAndBytesBothWays) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "Echo");
    std::error_code ec;
    ASSERT_TRUE(client.request(2, 16, kData, ec)) << ec.message();
    const auto seen = service.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].signature, "uuay");
    // The service read ("u" 2, "u" 16, "ay" data) as (2, 16, 0, data).
    EXPECT_EQ(seen[0].values, network_protocol::total(2, 16, 0, kData));
    EXPECT_EQ(client.receive_total(ec), network_protocol::total(2, 16, 0, kData));
    EXPECT_FALSE(ec);
}

TEST_F(NetworkProtocolBus, RequestLayoutsHaveTheirSignatures) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "Echo");
    std::error_code ec;
    ASSERT_TRUE(client.request(kData, ec)) << ec.message();
    ASSERT_TRUE(client.request(1, 2, ec)) << ec.message();
    ASSERT_TRUE(client.request(1, 2, 3, ec)) << ec.message();
    ASSERT_TRUE(client.request(1, 2, 3, bytes{}, ec)) << ec.message();
    EXPECT_EQ(client.receive_total(), network_protocol::total(1, 2, 3, bytes{}));
    const auto seen = service.seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].signature, "ay");
    EXPECT_EQ(seen[0].values, network_protocol::total(0, 0, 0, kData));
    EXPECT_EQ(seen[1].signature, "uu");
    EXPECT_EQ(seen[2].signature, "uuu");
    EXPECT_EQ(seen[3].signature, "uuuay");
}

TEST_F(NetworkProtocolBus, ServiceSeesSenderAndAddress) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "EchoBytes");
    std::error_code ec;
    ASSERT_TRUE(client.request(kData, ec)) << ec.message();
    EXPECT_EQ(client.receive(ec), kData);
    const auto seen = service.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].sender, dbus_bus_get_unique_name(m_client_connection.get()));
    EXPECT_EQ(seen[0].path, kPath);
    EXPECT_EQ(seen[0].interface, kInterface);
    EXPECT_EQ(seen[0].member, "EchoBytes");
    EXPECT_FALSE(seen[0].no_reply);
}

TEST_F(NetworkProtocolBus, SendExpectsNoReply) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "Record");
    std::error_code ec;
    ASSERT_TRUE(client.send(2, 2, kData, ec)) << ec.message();
    ASSERT_TRUE(client.send(5, 6, 7, ec)) << ec.message();
    ASSERT_TRUE(service.wait_for(2));
    const auto seen = service.seen();
    EXPECT_TRUE(seen[0].no_reply);
    EXPECT_EQ(seen[0].signature, "uuay");
    EXPECT_EQ(seen[0].values, network_protocol::total(2, 2, 0, kData));
    EXPECT_EQ(seen[1].signature, "uuu");
    EXPECT_EQ(seen[1].values, network_protocol::total(5, 6, 7, bytes{}));
}

TEST_F(NetworkProtocolBus, ErrorReplyClearsCurrentMessage) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "EchoBytes");
    std::error_code ec;
    ASSERT_TRUE(client.request(kData, ec));
    ASSERT_EQ(client.receive(), kData);

    client.set_interface(test_address("Fail"));
    EXPECT_FALSE(client.request(kData, ec));
    EXPECT_EQ(ec, make_error_code(network_error::message_not_processed));
    EXPECT_TRUE(client.receive(ec).empty());
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
}

TEST_F(NetworkProtocolBus, UnansweredRequestTimesOutAsNotProcessed) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "Ignore");
    client.set_timeout(200);
    std::error_code ec;
    EXPECT_FALSE(client.request(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::message_not_processed));
}

TEST_F(NetworkProtocolBus, RequestWithoutDestinationSendsNothing) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client = client_for(service, "Echo");
    client.set_destination("");
    std::error_code ec;
    EXPECT_FALSE(client.request(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
    EXPECT_FALSE(client.send(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));

    client.set_destination(service.name());
    ASSERT_TRUE(client.request(3, 4, ec));
    const auto seen = service.seen();
    ASSERT_EQ(seen.size(), 1u);  // only the addressed call reached the service
    EXPECT_EQ(std::get<0>(seen[0].values), 3u);
}

// A malformed name would make the bus library abort the process; it is refused instead.
TEST_F(NetworkProtocolBus, MalformedNamesAreInvalidArguments) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    std::error_code ec;
    network_protocol bad_destination = client_for(service, "Echo");
    bad_destination.set_destination("not a bus name");
    EXPECT_FALSE(bad_destination.request(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));

    network_protocol bad_member = client_for(service, "Bad.Member");
    EXPECT_FALSE(bad_member.send(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
    EXPECT_FALSE(bad_member.emit_signal(ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
}

TEST_F(NetworkProtocolBus, EmitsShutdownSignal) {
    echo_service service(m_bus->address());
    ASSERT_TRUE(service.ready());
    network_protocol client;
    client.set_connection(m_client_connection.get());
    client.set_interface(dbus_iface::signal::shutdown());
    std::error_code ec;
    ASSERT_TRUE(client.emit_signal(ec)) << ec.message();
    ASSERT_TRUE(service.wait_for(1));
    const auto seen = service.seen();
    EXPECT_EQ(seen[0].type, DBUS_MESSAGE_TYPE_SIGNAL);
    EXPECT_EQ(seen[0].path, "/ru/quorvex/signal");
    EXPECT_EQ(seen[0].interface, "ru.quorvex.signal.action");
    EXPECT_EQ(seen[0].member, "Shutdown");
    EXPECT_EQ(seen[0].signature, "");
}

TEST_F(NetworkProtocolBus, ResponseWithoutMessageSendsNothing) {
    network_protocol service;
    service.set_connection(m_client_connection.get());
    std::error_code ec;
    EXPECT_FALSE(service.response(kData, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
    EXPECT_EQ(dbus_connection_get_outgoing_size(m_client_connection.get()), 0);
}

// A message that never went over a bus has no serial to answer; the bus library would abort
// the process on such a reply.
TEST_F(NetworkProtocolBus, ResponseToUnsentMessageIsInvalidArgument) {
    dbus_handle::message_ptr call(
        dbus_message_new_method_call("org.example.Nobody", kPath, kInterface, "Any"));
    network_protocol service;
    service.set_connection(m_client_connection.get());
    service.set_message(call.get());
    std::error_code ec;
    EXPECT_FALSE(service.response(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
}

TEST_F(NetworkProtocolBus, ClosedConnectionIsDisconnected) {
    bus_connection closing = connect_to(m_bus->address());
    ASSERT_TRUE(closing);
    dbus_handle::message_ptr call(
        dbus_message_new_method_call("org.example.Nobody", kPath, kInterface, "Any"));
    network_protocol transport;
    transport.set_connection(closing.get());
    transport.set_message(call.get());
    transport.set_destination("org.example.Nobody");
    transport.set_interface(test_address("Any"));
    ASSERT_TRUE(transport.connected());
    dbus_connection_close(closing.get());
    EXPECT_FALSE(transport.connected());

    const auto disconnected = make_error_code(network_error::disconnected);
    std::error_code ec;
    EXPECT_FALSE(transport.response(kData, ec));
    EXPECT_EQ(ec, disconnected);
    EXPECT_FALSE(transport.request(1, 2, ec));
    EXPECT_EQ(ec, disconnected);
    EXPECT_FALSE(transport.send(kData, ec));
    EXPECT_EQ(ec, disconnected);
    EXPECT_FALSE(transport.emit_signal(ec));
    EXPECT_EQ(ec, disconnected);
    // The failed operations left the current message in place.
    EXPECT_EQ(transport.get_sender_method(), "Any");
}

TEST_F(NetworkProtocolBus, OversizedArrayIsNoBuffers) {
    bus_connection service_connection = connect_to(m_bus->address());
    ASSERT_TRUE(service_connection);
    dbus_handle::message_ptr call(dbus_message_new_method_call(
        dbus_bus_get_unique_name(service_connection.get()), kPath, kInterface, "Any"));
    dbus_message_set_serial(call.get(), 1);  // as if it had come from the bus
    network_protocol service;
    service.set_connection(service_connection.get());
    service.set_message(call.get());
    const bytes too_long(static_cast<std::size_t>(DBUS_MAXIMUM_ARRAY_LENGTH) + 1, 0x11);
    std::error_code ec;
    EXPECT_FALSE(service.response(1, 2, too_long, ec));
    EXPECT_EQ(ec, std::error_code(ENOBUFS, std::generic_category()));
    EXPECT_EQ(dbus_connection_get_outgoing_size(service_connection.get()), 0);
}

TEST(NetworkProtocol, WithoutConnectionIsDisconnected) {
    network_protocol transport;
    transport.set_destination("org.example.Nobody");
    transport.set_interface(test_address("Any"));
    std::error_code ec;
    EXPECT_FALSE(transport.connected());
    EXPECT_FALSE(transport.response(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::disconnected));
    EXPECT_FALSE(transport.request(kData, ec));
    EXPECT_EQ(ec, make_error_code(network_error::disconnected));
}

TEST(NetworkProtocol, CheckParametersNeedsAllFourNames) {
    network_protocol transport;
    EXPECT_FALSE(transport.check_parameters());
    transport.set_interface(test_address("Any"));
    EXPECT_FALSE(transport.check_parameters());
    transport.set_destination("org.example.Service");
    EXPECT_TRUE(transport.check_parameters());
    transport.set_destination(":1.42");
    EXPECT_TRUE(transport.check_parameters());
}

// Messages built locally, never sent: the reading side needs no bus.
dbus_handle::message_ptr local_call() {
    return dbus_handle::message_ptr(
        dbus_message_new_method_call("org.example.Service", kPath, kInterface, "Any"));
}

TEST(NetworkProtocolReceive, NonByteFirstArgumentGivesEmptyWithoutError) {
    auto message = local_call();
    const char* text = "not bytes";
    dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    network_protocol transport;
    transport.set_message(message.get());
    std::error_code ec = network_error::disconnected;
    EXPECT_TRUE(transport.receive(ec).empty());
    EXPECT_FALSE(ec);
}

TEST(NetworkProtocolReceive, WordFirstGivesEmptyBytes) {
    auto message = local_call();
    const dbus_uint32_t word = 9;
    dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &word, DBUS_TYPE_INVALID);
    network_protocol transport;
    transport.set_message(message.get());
    std::error_code ec;
    EXPECT_TRUE(transport.receive(ec).empty());
    EXPECT_FALSE(ec);
    EXPECT_EQ(transport.receive_total(ec), network_protocol::total(9, 0, 0, bytes{}));
}

TEST(NetworkProtocolReceive, NoArgumentsIsInvalidArgument) {
    auto message = local_call();
    network_protocol transport;
    transport.set_message(message.get());
    std::error_code ec;
    EXPECT_TRUE(transport.receive(ec).empty());
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
    EXPECT_EQ(transport.receive_total(ec), network_protocol::total(0, 0, 0, bytes{}));
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
}

TEST(NetworkProtocolReceive, NoMessageIsInvalidArgument) {
    network_protocol transport;
    std::error_code ec;
    EXPECT_TRUE(transport.receive(ec).empty());
    EXPECT_EQ(ec, make_error_code(network_error::invalid_argument));
    EXPECT_EQ(transport.get_sender_id(), "");
    EXPECT_FALSE(transport.is_received_method(kInterface, "Any"));
}

// Words stop at the first argument that is not "u"; the byte array is read from there.
TEST(NetworkProtocolReceive, TotalSkipsNoWordsPastAnotherType) {
    auto message = local_call();
    const dbus_uint32_t word = 4;
    const char* text = "x";
    dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &word, DBUS_TYPE_STRING, &text,
                             DBUS_TYPE_UINT32, &word, DBUS_TYPE_INVALID);
    network_protocol transport;
    transport.set_message(message.get());
    EXPECT_EQ(transport.receive_total(), network_protocol::total(4, 0, 0, bytes{}));
}

TEST(NetworkProtocolReceive, IsReceivedMethodMatchesInterfaceAndMember) {
    auto message = local_call();
    network_protocol transport;
    transport.set_message(message.get());
    EXPECT_TRUE(transport.is_received_method(kInterface, "Any"));
    EXPECT_FALSE(transport.is_received_method(kInterface, "Other"));
    EXPECT_FALSE(transport.is_received_method("test.other", "Any"));
    EXPECT_EQ(transport.get_sender_path(), kPath);
}

// The transport keeps its own reference: the message outlives the caller's.
TEST(NetworkProtocolReceive, KeepsMessageAlive) {
    network_protocol transport;
    {
        auto message = local_call();
        const dbus_uint32_t word = 12;
        dbus_message_append_args(message.get(), DBUS_TYPE_UINT32, &word, DBUS_TYPE_INVALID);
        transport.set_message(message.get());
    }
    EXPECT_EQ(std::get<0>(transport.receive_total()), 12u);
}

TEST(NetworkProtocol, MoveLeavesSourceWithoutMessageAndDefaultTimeout) {
    auto message = local_call();
    network_protocol source;
    source.set_message(message.get());
    source.set_timeout(500);
    source.set_interface(test_address("Any"));
    network_protocol target(std::move(source));
    EXPECT_EQ(target.get_timeout(), 500);
    EXPECT_EQ(target.get_sender_method(), "Any");
    EXPECT_EQ(source.get_timeout(), -1);  // NOLINT(bugprone-use-after-move): defined state
    EXPECT_EQ(source.get_sender_method(), "");
    EXPECT_FALSE(source.connected());

    network_protocol assigned;
    assigned = std::move(target);
    EXPECT_EQ(assigned.get_timeout(), 500);
    EXPECT_EQ(target.get_timeout(), -1);  // NOLINT(bugprone-use-after-move)
}

}  // namespace
