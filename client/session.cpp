#include "client/session.h"

#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "client/account_key.h"
#include "client/client_error.h"
#include "client/keystore.h"
#include "crypto/crypto_error.h"
#include "foundation/defer.h"
#include "session/transfer_error.h"

namespace client {

namespace {

using bytes = session::bytes;
using header = transfer_protocol_header;
using phase = transfer_protocol_phase;

constexpr std::uint32_t w(header h) noexcept {
    return static_cast<std::uint32_t>(h);
}
constexpr std::uint32_t w(phase p) noexcept {
    return static_cast<std::uint32_t>(p);
}

constexpr std::size_t kServiceAnswerSize = 64;

// Secrets and plaintext packets do not stay behind in freed memory.
void wipe(bytes& data) noexcept {
    if (!data.empty()) {
        explicit_bzero(data.data(), data.size());
    }
    data.clear();
}

// The error of a reply frame that came where a handshake answer was expected (the service
// answers a refused "SetPrivateParameter" with an error reply through the clear session).
std::error_code error_of_frame(const bytes& frame) {
    service_reply reply;
    if (!decode_reply(frame, reply)) {
        return client_error::unexpected_answer;
    }
    const std::error_code ec = reply.error();
    return ec ? ec : make_error_code(client_error::unexpected_answer);
}

}  // namespace

session::session(session_options options) : m_options(std::move(options)) {}

bool session::connect(std::error_code& ec) {
    m_connection = connect_system_bus(ec);
    if (!m_connection || !name_has_owner(m_connection.get(), kServiceName, ec)) {
        return false;
    }
    m_network.set_connection(m_connection.get());
    m_network.set_destination(kServiceName);
    m_network.set_timeout(m_options.timeout_ms);
    m_state = state::none;
    return true;
}

bool session::step(dbus_iface::iface&& method, std::uint32_t h, std::uint32_t m,
                   const bytes* payload, std::uint32_t answer_header, std::uint32_t answer_metadata,
                   bytes* answer_payload, std::error_code& ec) {
    m_network.set_interface(std::move(method));
    const bool sent =
        payload != nullptr ? m_network.request(h, m, *payload, ec) : m_network.request(h, m, ec);
    if (!sent) {
        return false;
    }
    auto [h_got, m_got, s_got, data] = m_network.receive_total(ec);
    if (ec) {
        return false;
    }
    if (h_got == answer_header && m_got == answer_metadata) {
        if (s_got == kStatusAccepted) {
            if (answer_payload != nullptr) {
                *answer_payload = std::move(data);
            }
            return true;
        }
        ec = s_got == kStatusRefused ? client_error::step_refused : client_error::unexpected_answer;
        return false;
    }
    if (h_got == w(header::unsafe_transfer) && m_got == w(phase::response)) {
        ec = error_of_frame(data);
        return false;
    }
    ec = client_error::unexpected_answer;
    return false;
}

bool session::open_clear(std::error_code& ec) {
    if (!m_connection) {
        ec = client_error::no_session;
        return false;
    }
    if (!step(dbus_iface::system::session::open(), w(header::open_unsafe), w(phase::confirm),
              nullptr, w(header::open_unsafe), w(phase::acknowledge), nullptr, ec)) {
        return false;
    }
    m_state = state::clear;
    return true;
}

bool session::open_secure(const std::string& account, const std::wstring& password,
                          std::error_code& ec) {
    if (!open_clear(ec)) {
        return false;
    }
    if (!secure_handshake(account, password, ec)) {
        // The service's half of the session is in an unknown step now; nothing more goes
        // over it.
        m_cipher.reset();
        m_state = state::none;
        return false;
    }
    m_state = state::secure;
    return true;
}

bool session::secure_handshake(const std::string& account, const std::wstring& password,
                               std::error_code& ec) {
    namespace s = dbus_iface::system::session;
    std::optional<service_keys> pinned;
    if (!read_service_keys(m_options.service_keys_path, pinned, ec)) {
        return false;
    }
    if (!m_factory && !(m_factory = seeded_factory())) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }

    // Who we are: the service answers with the account's container, which only the
    // password opens; a wrong password ends the setup before anything else is sent.
    service_reply container;
    m_network.set_interface(dbus_iface::system::user_manage::common::get_container());
    if (!call_clear(bytes(account.begin(), account.end()), container, ec)) {
        return false;
    }
    if ((ec = container.error())) {
        return false;
    }
    account_key key;
    if (!key.open(*m_factory.self(), container.payload, password, ec)) {
        return false;
    }

    if (!step(s::auth::set_auth_data(), w(header::authentication), w(phase::confirm), nullptr,
              w(header::authentication), w(phase::auth_reply), nullptr, ec) ||
        !step(s::switch_context(), w(header::switch_reset), w(phase::confirm), nullptr,
              w(header::switch_reset), w(phase::acknowledge), nullptr, ec)) {
        return false;
    }
    const bool authenticated = m_options.sequence == handshake_sequence::authenticated;
    const bool secured =
        authenticated
            ? step(s::switch_context(), w(header::switch_authenticated), w(phase::confirm), nullptr,
                   w(header::switch_authenticated), w(phase::acknowledge), nullptr, ec)
            : step(s::open(), w(header::open_secure), w(phase::confirm), nullptr,
                   w(header::open_secure), w(phase::acknowledge), nullptr, ec);
    if (!secured) {
        return false;
    }

    session_cipher cipher(m_factory.self());
    const bytes material = cipher.key_material(ec);
    if (ec) {
        return false;
    }
    const std::uint32_t setup = w(header::setup_authenticated);
    bytes answer;
    if (!step(s::setup(), setup, w(phase::import_key_material), &material, setup,
              w(phase::acknowledge), nullptr, ec) ||
        !step(s::setup(), setup, w(phase::request), nullptr, setup, w(phase::response), &answer,
              ec)) {
        return false;
    }
    if (answer.size() != kServiceAnswerSize) {
        ec = client_error::unexpected_answer;
        return false;
    }
    // The answer's second half is the service's long-term key: a pinned service must show
    // the pinned key, or this is not the service.
    if (pinned && !std::equal(answer.begin() + kServiceAnswerSize / 2, answer.end(),
                              pinned->key_agreement.begin(), pinned->key_agreement.end())) {
        ec = client_error::service_key_mismatch;
        return false;
    }
    if (!cipher.import_answer(answer, ec)) {
        return false;
    }
    bytes iv = cipher.random(kSessionIvSize, ec);
    const auto forget_iv = foundation::make_deferred([&iv] { wipe(iv); });
    if (ec || !step(s::setup(), setup, w(phase::set_iv), &iv, setup, w(phase::acknowledge), nullptr,
                    ec)) {
        return false;
    }
    if (!step(s::apply_private(), setup, w(phase::confirm), nullptr, setup, w(phase::acknowledge),
              nullptr, ec)) {
        return false;
    }
    // The service now holds the token in its key agreement and has keyed its encryptor
    // again, with the same IV; the client does the same, so the session key proves that
    // both know the account's token.
    {
        const RawMemoryDefault token = key.token(ec);
        if (ec || !cipher.set_token(token, ec) || !cipher.create_encryptor(iv, ec)) {
            return false;
        }
    }
    const std::uint32_t complete = authenticated ? setup : w(header::setup);
    if (!step(s::setup_complete(), complete, w(phase::response), nullptr, complete,
              w(phase::acknowledge), nullptr, ec)) {
        return false;
    }
    m_cipher.emplace(std::move(cipher));
    return true;
}

bool session::call(dbus_iface::iface&& method, const bytes& body, service_reply& out,
                   std::error_code& ec) {
    if (m_state == state::none) {
        ec = client_error::no_session;
        return false;
    }
    m_network.set_interface(std::move(method));
    return m_state == state::secure ? call_secure(body, out, ec) : call_clear(body, out, ec);
}

bool session::call_clear(const bytes& body, service_reply& out, std::error_code& ec) {
    const std::uint32_t unsafe = w(header::unsafe_transfer);
    if (!m_network.request(unsafe, w(phase::request), body, ec)) {
        return false;
    }
    auto [h, m, status, frame] = m_network.receive_total(ec);
    (void)status;
    if (ec) {
        return false;
    }
    if (h != unsafe || m != w(phase::response)) {
        ec = client_error::unexpected_answer;
        return false;
    }
    if (!decode_reply(frame, out)) {
        ec = client_error::bad_reply;
        return false;
    }
    return true;
}

bool session::exchange_secure(bytes&& flat, packet& answer, std::error_code& ec) {
    bytes cipher_text = m_cipher->encrypt(flat, ec);
    wipe(flat);
    if (ec || !m_network.request(cipher_text, ec)) {
        return false;
    }
    const bytes reply = m_network.receive(ec);
    if (ec) {
        return false;
    }
    bytes plain = m_cipher->decrypt(reply, ec);
    if (ec) {
        return false;
    }
    answer = deserialize(plain, ec);
    wipe(plain);
    return !ec;
}

bool session::call_secure(const bytes& body, service_reply& out, std::error_code& ec) {
    packet answer;
    if (!exchange_secure(serialize(header::secure_transfer, phase::request, body), answer, ec)) {
        return false;
    }
    if (answer.header != w(header::secure_transfer)) {
        ec = transfer_error::bad_header;
    } else if (answer.metadata != w(phase::response)) {
        ec = transfer_error::bad_metadata;
    } else if (!decode_reply(answer.data, out)) {
        ec = client_error::bad_reply;
    }
    wipe(answer.data);
    return !ec;
}

bool session::close(std::error_code& ec) {
    const state was = std::exchange(m_state, state::none);
    if (was == state::none) {
        ec = client_error::no_session;
        return false;
    }
    namespace s = dbus_iface::system::session;
    if (was == state::clear) {
        return step(s::close(), w(header::close_unsafe), w(phase::confirm), nullptr,
                    w(header::close_unsafe), w(phase::acknowledge), nullptr, ec);
    }
    m_network.set_interface(s::close());
    packet answer;
    const bool answered =
        exchange_secure(serialize(header::close_secure, phase::confirm), answer, ec);
    m_cipher.reset();
    if (!answered) {
        return false;
    }
    if (answer.header != w(header::close_secure) || answer.metadata != w(phase::acknowledge)) {
        ec = client_error::unexpected_answer;
        return false;
    }
    if (answer.status != kStatusAccepted) {
        ec = client_error::step_refused;
        return false;
    }
    return true;
}

}  // namespace client
