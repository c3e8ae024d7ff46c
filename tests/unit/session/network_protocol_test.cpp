#include "session/network_protocol.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dbus/dbus_iface.h"
#include "session/network_error.h"

namespace {

using bytes = std::vector<unsigned char>;
using total = network_protocol::total;
using clock_type = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(10);
const char* const kPath = "/test/echo";
const char* const kInterface = "test.echo";
const bytes kData = {0x00, 0x10, 0xFF, 0x7F};
const std::error_code kInvalid = make_error_code(network_error::invalid_argument);

// A throw-away bus for one test: a dbus-daemon child that listens on a fresh address and
// is killed with the object, or with the test process when that crashes. The address is
// empty when the daemon could not be started.
class private_bus {
  public:
    private_bus() {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], STDOUT_FILENO);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile",
                   "--print-address=1", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The daemon prints its address once it listens; end of file means it failed.
        char c;
        while (m_pid > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
            m_address.push_back(c);
        }
        close(out[0]);
    }
    ~private_bus() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    private_bus(const private_bus&) = delete;
    private_bus& operator=(const private_bus&) = delete;
    const std::string& address() const { return m_address; }

  private:
    pid_t m_pid = -1;
    std::string m_address;
};

// A private, registered connection to a bus; closed and released with its owner.
struct connection_closer {
    void operator()(DBusConnection* connection) const noexcept {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using bus_connection = std::unique_ptr<DBusConnection, connection_closer>;

// Opens a private connection to address and says Hello; null on failure.
bus_connection connect_to(const std::string& address) {
    bus_connection connection(dbus_connection_open_private(address.c_str(), nullptr));
    if (connection && !dbus_bus_register(connection.get(), nullptr)) {
        return nullptr;
    }
    return connection;
}

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

// What the echo service saw of one incoming message.
struct seen_message {
    std::string sender, address, signature;
    bool no_reply = false;
    total values;
};

// A service on its own connection and thread, built on the daemon-side operations: "Echo"
// answers (w1, w2, w3, data) as read by receive_total, "EchoBytes" the bytes read by
// receive, "Layout" uses kLayouts[w1], "Fail" answers with an error, others never answer.
class echo_service {
  public:
    explicit echo_service(const std::string& address) : m_connection(connect_to(address)) {
        if (m_connection) {
            m_name = dbus_bus_get_unique_name(m_connection.get());
            m_thread = std::thread([this] { run(); });
        }
    }
    ~echo_service() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    const std::string& name() const { return m_name; }

    // Every call seen so far, once there are at least count (or the deadline passed).
    std::vector<seen_message> seen(std::size_t count = 0) {
        for (const auto until = clock_type::now() + kDeadline;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_seen.size() >= count || clock_type::now() >= until) {
                    return m_seen;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

  private:
    void run() {
        network_protocol service;
        service.set_connection(m_connection.get());
        while (!m_stop) {
            dbus_connection_read_write(m_connection.get(), 20);
            while (DBusMessage* raw = dbus_connection_pop_message(m_connection.get())) {
                dbus_handle::message_ptr message(raw);
                if (dbus_message_get_type(raw) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                    handle(service, raw);
                }
            }
        }
    }

    void handle(network_protocol& service, DBusMessage* message) {
        service.set_message(message);
        const std::string member = service.get_sender_method();
        const seen_message record{
            service.get_sender_id(),
            service.get_sender_path() + " " + service.get_sender_interface() + "." + member,
            dbus_message_get_signature(message),
            static_cast<bool>(dbus_message_get_no_reply(message)), service.receive_total()};
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
        if (m_bus.address().empty()) {
            GTEST_SKIP() << "dbus-daemon did not start (is it installed?)";
        }
        m_client = connect_to(m_bus.address());
        ASSERT_TRUE(m_client);
        m_echo = std::make_unique<echo_service>(m_bus.address());
        ASSERT_FALSE(m_echo->name().empty());
    }

    // A client transport addressed to the echo service's member.
    network_protocol client_for(const std::string& member) {
        network_protocol client;
        client.set_connection(m_client.get());
        client.set_destination(m_echo->name());
        client.set_interface(test_address(member));
        return client;
    }

    private_bus m_bus;
    bus_connection m_client;
    std::unique_ptr<echo_service> m_echo;
};

// Each reply layout reaches a plain libdbus client with its own signature.
TEST_F(NetworkProtocolBus, ResponseLayoutsArriveWithTheirSignatures) {
    for (dbus_uint32_t index = 0; index < std::size(kLayouts); ++index) {
        SCOPED_TRACE(index);
        dbus_handle::message_ptr call(
            dbus_message_new_method_call(m_echo->name().c_str(), kPath, kInterface, "Layout"));
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

TEST_F(NetworkProtocolBus, RequestCarriesWordsAndBytesBothWays) {
    network_protocol client = client_for("Echo");
    std::error_code ec;
    ASSERT_TRUE(client.request(2, 16, kData, ec)) << ec.message();
    const auto seen = m_echo->seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].signature, "uuay");
    // The service read ("u" 2, "u" 16, "ay" data) as (2, 16, 0, data).
    EXPECT_EQ(seen[0].values, total(2, 16, 0, kData));
    EXPECT_EQ(seen[0].sender, dbus_bus_get_unique_name(m_client.get()));
    EXPECT_EQ(seen[0].address, "/test/echo test.echo.Echo");
    EXPECT_FALSE(seen[0].no_reply);
    EXPECT_EQ(client.receive_total(ec), total(2, 16, 0, kData));
    EXPECT_FALSE(ec);
}

TEST_F(NetworkProtocolBus, SendExpectsNoReply) {
    std::error_code ec;
    ASSERT_TRUE(client_for("Record").send(2, 2, kData, ec)) << ec.message();
    const auto seen = m_echo->seen(1);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].no_reply);
    EXPECT_EQ(seen[0].signature, "uuay");
    EXPECT_EQ(seen[0].values, total(2, 2, 0, kData));
}

TEST_F(NetworkProtocolBus, ErrorReplyClearsCurrentMessage) {
    network_protocol client = client_for("EchoBytes");
    std::error_code ec;
    ASSERT_TRUE(client.request(kData, ec));
    ASSERT_EQ(client.receive(), kData);

    client.set_interface(test_address("Fail"));
    EXPECT_FALSE(client.request(kData, ec));
    EXPECT_EQ(ec, make_error_code(network_error::message_not_processed));
    EXPECT_TRUE(client.receive(ec).empty());
    EXPECT_EQ(ec, kInvalid);
}

TEST_F(NetworkProtocolBus, UnansweredRequestTimesOutAsNotProcessed) {
    network_protocol client = client_for("Ignore");
    client.set_timeout(200);
    std::error_code ec;
    EXPECT_FALSE(client.request(1, 2, ec));
    EXPECT_EQ(ec, make_error_code(network_error::message_not_processed));
}

TEST_F(NetworkProtocolBus, RequestWithoutDestinationSendsNothing) {
    network_protocol client = client_for("Echo");
    client.set_destination("");
    std::error_code ec;
    EXPECT_FALSE(client.request(1, 2, ec));
    EXPECT_EQ(ec, kInvalid);
    EXPECT_FALSE(client.send(1, 2, ec));
    EXPECT_EQ(ec, kInvalid);

    client.set_destination(m_echo->name());
    ASSERT_TRUE(client.request(3, 4, ec));
    const auto seen = m_echo->seen();
    ASSERT_EQ(seen.size(), 1u);  // only the addressed call reached the service
    EXPECT_EQ(std::get<0>(seen[0].values), 3u);
}

// A malformed name would make the bus library abort the process; it is refused instead.
TEST_F(NetworkProtocolBus, MalformedNamesAreInvalidArguments) {
    std::error_code ec;
    network_protocol bad_destination = client_for("Echo");
    bad_destination.set_destination("not a bus name");
    EXPECT_FALSE(bad_destination.request(1, 2, ec));
    EXPECT_EQ(ec, kInvalid);

    network_protocol bad_member = client_for("Bad.Member");
    EXPECT_FALSE(bad_member.send(1, 2, ec));
    EXPECT_EQ(ec, kInvalid);
    EXPECT_FALSE(bad_member.emit_signal(ec));
    EXPECT_EQ(ec, kInvalid);
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
        dbus_message_new_method_call(m_echo->name().c_str(), kPath, kInterface, "Any"));
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
    bus_connection closing = connect_to(m_bus.address());
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
