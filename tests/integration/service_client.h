#pragma once

// A running ztctld in a sandbox, provisioned with the administrator "admin", and a client
// that talks to it with raw libdbus calls and the provider's client side of the key
// agreement.

#include <dbus/dbus.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto_factory.h"
#include "dbus/dbus_iface.h"
#include "dbus/reply_builder.h"
#include "session/packet.h"
#include "system/init_vector.h"
#include "testing/private_bus.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"
#include "unit/crypto/session_peer.h"

namespace service_test {

using namespace std::chrono_literals;
using bytes = std::vector<unsigned char>;
using words = std::vector<std::uint32_t>;
namespace ds = dbus_iface::system;

inline const std::string kServiceFile =
    std::string(zt_testing::sandbox::service_dir) + "/service.bin";
inline const std::string kDatabaseFile =
    std::string(zt_testing::sandbox::service_dir) + "/database.bin";
constexpr const char* kPidFile = "/var/run/ztctld.pid";
constexpr const char* kTokenFile = "/run/zt-sandbox/admin.token";

// What came back for one call: nothing, a D-Bus error, or a method return's arguments.
struct reply {
    bool answered = false;
    std::string error;    // the D-Bus error name; empty for a method return
    std::string message;  // the D-Bus error's text
    words values;         // the "u" arguments in order
    bytes data;           // the "ay" argument
};

// An address of the service that the daemon does not serve, for calls that must be answered
// by the bus library.
struct address : dbus_iface::iface {
    address(std::string p, std::string i, std::string m)
        : m_path(std::move(p)), m_interface(std::move(i)), m_member(std::move(m)) {}
    std::string path() const override { return m_path; }
    std::string interface() const override { return m_interface; }
    std::string method() const override { return m_member; }
    std::string m_path, m_interface, m_member;
};

// One client connection to the service.
class client {
  public:
    explicit client(zt_testing::connection_ptr connection) : m_connection(std::move(connection)) {}

    // Calls the method with the words and, when given, a byte array. Whether an answer came
    // is decided without waiting for a time-out: the daemon serves calls in order, so once a
    // second call (one the bus library always answers) is back, any answer to the first has
    // arrived too.
    reply call(const dbus_iface::iface& to, const words& values,
               const std::optional<bytes>& data = std::nullopt) {
        DBusPendingCall* raw = nullptr;
        auto m = message(to, values, data);
        dbus_connection_send_with_reply(m_connection.get(), m.get(), &raw, 60000);
        pending_ptr pending(raw);
        call_once(address("/ru/quorvex/system/session", "ru.quorvex.system.session", "Probe"));
        reply out;
        if (!dbus_pending_call_get_completed(pending.get())) {
            dbus_pending_call_cancel(pending.get());
            return out;
        }
        zt_testing::message_ptr answer(dbus_pending_call_steal_reply(pending.get()));
        return read(answer.get());
    }

    // The words of an answer, or nothing: what most handshake checks compare.
    std::optional<words> call_words(const dbus_iface::iface& to, const words& values,
                                    const std::optional<bytes>& data = std::nullopt) {
        const reply r = call(to, values, data);
        if (!r.answered) {
            return std::nullopt;
        }
        return r.values;
    }

    // A request in the clear session: (2, 16, body), answered (2, 128, reply).
    reply_builder clear_request(const dbus_iface::iface& to, const bytes& body) {
        const reply r = call(to, {2, 16}, body);
        EXPECT_EQ(r.values, (words{2, 128})) << r.error << " " << r.message;
        return reply_builder(r.data);
    }

    // Runs the handshake to an encrypted session for "admin" (the authenticated sequence
    // when authenticated), mixing token into the client's key (none: the client skips
    // "SetPrivateParameter"). True when every step was accepted; failed_step() names the
    // first that was not.
    bool secure(bool authenticated, const std::optional<bytes>& token) {
        return start_secure(authenticated) && (!token || apply_token(*token)) &&
               complete(authenticated);
    }

    // The handshake up to the key exchange: a clear session, the account named, the service
    // container loaded, a secured session, key material and IV exchanged.
    bool start_secure(bool authenticated) {
        if (!(accepted(ds::session::open(), {4, 4}, {4, 64, 1}) &&
              clear_request(ds::user_manage::common::get_container(), text("admin"))
                      .status()
                      .value() == 0 &&
              accepted(ds::session::auth::set_auth_data(), {7, 4}, {7, 5, 1}) &&
              accepted(ds::session::switch_context(), {512, 4}, {512, 64, 1}))) {
            return false;
        }
        const bool switched = authenticated
                                  ? accepted(ds::session::switch_context(), {16, 4}, {16, 64, 1})
                                  : accepted(ds::session::open(), {8, 4}, {8, 64, 1});
        m_peer = std::make_unique<peer::client>(m_factory);
        if (!switched ||
            !accepted(ds::session::setup(), {256, 8}, {256, 64, 1}, m_peer->key_material())) {
            return false;
        }
        const reply material = call(ds::session::setup(), {256, 16});
        m_material = material.data;
        if (material.values != words{256, 128, 1}) {
            m_failed = "SetupAuthenticatedSession 16";
            return false;
        }
        return accepted(ds::session::setup(), {256, 32}, {256, 64, 1}, m_iv);
    }

    // "SetPrivateParameter", with token mixed into the client's key.
    bool apply_token(const bytes& token) {
        m_peer->set_private_parameter(token);
        return accepted(ds::session::apply_private(), {256, 4}, {256, 64, 1});
    }

    // Keys the client's cipher from the exchange so far.
    void finish_keys() { m_peer->finish(m_material, L"client side", m_iv); }

    // "SetupComplete" after the client's cipher is keyed.
    bool complete(bool authenticated) {
        finish_keys();
        const std::uint32_t header = authenticated ? 256 : 128;
        return accepted(ds::session::setup_complete(), {header, 128}, {header, 64, 1});
    }

    const std::string& failed_step() const { return m_failed; }

    // A flat packet as the client's cipher encrypts it.
    bytes encrypted(const bytes& flat) { return m_peer->encrypt(flat); }

    // A request in the encrypted session: the packet (1, 16, body) encrypted; the decoded
    // answer packet (all zero when the answer is missing or does not decrypt).
    packet secure_request(const dbus_iface::iface& to, const bytes& body) {
        return secure_call(to, serialize(1, 16, body));
    }
    packet secure_call(const dbus_iface::iface& to, const bytes& flat) {
        const reply r = call(to, {}, encrypted(flat));
        std::error_code ec;
        return r.answered && r.error.empty() ? deserialize(m_peer->decrypt(r.data), ec) : packet{};
    }

    // One call that is always answered (by the daemon or the bus), waited for.
    reply call_once(const dbus_iface::iface& to, const words& values = {}) {
        auto m = message(to, values, std::nullopt);
        DBusPendingCall* raw = nullptr;
        dbus_connection_send_with_reply(m_connection.get(), m.get(), &raw, 60000);
        pending_ptr pending(raw);
        // Replies complete their calls as they are dispatched, in order of arrival.
        zt_testing::wait_until(
            [&] {
                dbus_connection_read_write_dispatch(m_connection.get(), 10);
                return dbus_pending_call_get_completed(pending.get()) != 0;
            },
            60s);
        zt_testing::message_ptr answer(dbus_pending_call_steal_reply(pending.get()));
        return answer ? read(answer.get()) : reply{};
    }

    DBusConnection* connection() const { return m_connection.get(); }

    // The arguments of a received message, or its error.
    static reply read(DBusMessage* m) {
        reply out;
        out.answered = true;
        if (const char* name = dbus_message_get_error_name(m)) {
            out.error = name;
            const char* text = nullptr;
            dbus_message_get_args(m, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
            out.message = text != nullptr ? text : "";
            return out;
        }
        DBusMessageIter it;
        for (bool more = dbus_message_iter_init(m, &it); more; more = dbus_message_iter_next(&it)) {
            if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_UINT32) {
                dbus_uint32_t w = 0;
                dbus_message_iter_get_basic(&it, &w);
                out.values.push_back(w);
            } else if (dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
                DBusMessageIter array;
                dbus_message_iter_recurse(&it, &array);
                const unsigned char* p = nullptr;
                int n = 0;
                dbus_message_iter_get_fixed_array(&array, &p, &n);
                out.data.assign(p, p + n);
            }
        }
        return out;
    }

    static bytes text(const std::string& s) { return {s.begin(), s.end()}; }

  private:
    struct pending_unref {
        void operator()(DBusPendingCall* p) const noexcept { dbus_pending_call_unref(p); }
    };
    using pending_ptr = std::unique_ptr<DBusPendingCall, pending_unref>;

    static zt_testing::message_ptr message(const dbus_iface::iface& to, const words& values,
                                           const std::optional<bytes>& data) {
        zt_testing::message_ptr m(dbus_message_new_method_call(
            "ru.quorvex.server", to.path().c_str(), to.interface().c_str(), to.method().c_str()));
        for (std::uint32_t w : values) {
            dbus_message_append_args(m.get(), DBUS_TYPE_UINT32, &w, DBUS_TYPE_INVALID);
        }
        if (data) {
            const unsigned char* p = data->data();
            dbus_message_append_args(m.get(), DBUS_TYPE_ARRAY, DBUS_TYPE_BYTE, &p,
                                     static_cast<int>(data->size()), DBUS_TYPE_INVALID);
        }
        return m;
    }

    bool accepted(const dbus_iface::iface& to, const words& values, const words& expected,
                  const std::optional<bytes>& data = std::nullopt) {
        if (call(to, values, data).values == expected) {
            return true;
        }
        m_failed = to.method() + " " + std::to_string(values.at(0));
        return false;
    }

    static crypto_factory make_factory() {
        crypto_factory f;
        f.initialize(util::get_init_vector());
        return f;
    }

    zt_testing::connection_ptr m_connection;
    crypto_factory m_factory = make_factory();
    std::unique_ptr<peer::client> m_peer;
    bytes m_material;
    bytes m_iv = bytes(16, 0x5a);
    std::string m_failed;
};

// A sandbox with a provisioned service (administrator "admin", its token exported) and the
// daemon running and owning its name.
class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string reason = zt_testing::sandbox::unavailable_reason(); !reason.empty()) {
            ZT_SKIP_UNLESS_REQUIRED(reason);
        }
        m_box = std::make_unique<zt_testing::sandbox>();
        provision();
        start();
    }

    void provision() {
        m_box->write_file("/run/zt-sandbox/admin.password", "secret\n", 0600);
        const auto result = zt_testing::run_captured(
            {ZT_PROVISION_PATH, "--service-dir", zt_testing::sandbox::service_dir, "--write-config",
             "--force", "--iterations", "1000", "--allow-low-iterations", "--admin",
             "admin:/run/zt-sandbox/admin.password", "--export-token",
             std::string("admin:") + kTokenFile},
            120s, {.ns_fd = m_box->namespace_fd()});
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        const auto token = m_box->read_file(kTokenFile);
        ASSERT_TRUE(token && !token->empty());
        m_token.assign(token->begin(), token->end());
    }

    // Starts the daemon and waits for its name.
    void start() {
        m_daemon = m_box->start_daemon();
        ASSERT_TRUE(m_box->wait_for_name("ru.quorvex.server", m_daemon, 30s));
    }

    // Waits for process to exit; its raw wait status.
    std::optional<int> wait_for_exit(zt_testing::child_process& process) {
        return process.wait(30s);
    }

    client connect() { return client(zt_testing::open_bus(m_box->bus_address())); }

    // The daemon's log lines as (priority, message), in order.
    std::vector<std::pair<std::string, std::string>> logged() {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto& e : m_box->journal().entries_of("ztctld")) {
            lines.emplace_back(e.priority(), e.message());
        }
        return lines;
    }
    bool logged(const std::string& priority, const std::string& message) {
        const auto lines = logged();
        return std::find(lines.begin(), lines.end(), std::pair{priority, message}) != lines.end();
    }

    std::unique_ptr<zt_testing::sandbox> m_box;
    zt_testing::child_process m_daemon;
    bytes m_token;
};

}  // namespace service_test
