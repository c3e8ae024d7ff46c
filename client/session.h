#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "client/bus_connection.h"
#include "client/reply.h"
#include "client/service_keys.h"
#include "client/session_cipher.h"
#include "crypto/crypto_factory.h"
#include "dbus/dbus_iface.h"
#include "session/network_protocol.h"
#include "session/packet.h"

namespace client {

// The service's well-known name on the system bus.
inline constexpr const char* kServiceName = "ru.quorvex.server";

// The two handshakes that end in an encrypted session: through "Open" of a session to be
// encrypted, or through "SwitchContext" into the authenticated state.
enum class handshake_sequence { plain, authenticated };

struct session_options {
    handshake_sequence sequence = handshake_sequence::plain;
    // Milliseconds each call waits for its answer; -1 is the bus library's default.
    int timeout_ms = -1;
    // The pinned service keys; a missing file pins nothing.
    std::string service_keys_path = kServiceKeysPath;
};

// One client session with the service, on a bus connection of its own: a clear session
// after open_clear(), an encrypted one after open_secure(), requests through call(), and
// close(). A session that is dropped without close() is simply forgotten by the service.
//
// Every operation clears ec on success; on failure it returns false with the reason: a
// "network" error when the service could not be reached or did not answer, a "client",
// "crypto" or "transfer" error found on this side, or the service's own error from a
// failure reply during the setup.
class session {
  public:
    using bytes = std::vector<unsigned char>;
    enum class state { none, clear, secure };

    explicit session(session_options options = {});

    // Connects to the system bus and checks that the service owns its name.
    bool connect(std::error_code& ec);
    // "Open" of a clear session.
    bool open_clear(std::error_code& ec);
    // Runs the whole setup of an encrypted session for account: a clear session, the
    // account's container fetched and opened with password (a wrong password fails here,
    // before anything else is sent), then the chosen handshake with the account's token in
    // the session key. The service's key-agreement key must match the pinned one.
    bool open_secure(const std::string& account, const std::wstring& password, std::error_code& ec);

    // Sends body to method through the current session and reads the reply into out. True
    // when a reply was read, even one that reports a failure (see out.error()); false with
    // a local error when none could be read.
    bool call(dbus_iface::iface&& method, const bytes& body, service_reply& out,
              std::error_code& ec);

    // "Close" of the current session. The session is left closed whatever the outcome.
    bool close(std::error_code& ec);

    state current() const noexcept { return m_state; }

  private:
    // Sends a handshake step and checks that the service accepted it with the answer words
    // (answer_header, answer_metadata); a payload of the answer goes to answer_payload.
    bool step(dbus_iface::iface&& method, std::uint32_t header, std::uint32_t metadata,
              const bytes* payload, std::uint32_t answer_header, std::uint32_t answer_metadata,
              bytes* answer_payload, std::error_code& ec);
    bool secure_handshake(const std::string& account, const std::wstring& password,
                          std::error_code& ec);
    bool call_clear(const bytes& body, service_reply& out, std::error_code& ec);
    bool call_secure(const bytes& body, service_reply& out, std::error_code& ec);
    // Encrypts a flat packet, sends it and decrypts the flat packet that answers it.
    bool exchange_secure(bytes&& flat, packet& answer, std::error_code& ec);

    session_options m_options;
    private_connection m_connection;  // declared first: the transport lets go of it first
    network_protocol m_network;
    crypto_factory m_factory;
    std::optional<session_cipher> m_cipher;
    state m_state = state::none;
};

}  // namespace client
