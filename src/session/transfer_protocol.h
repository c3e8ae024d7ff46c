#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "crypto/crypto_factory.h"
#include "crypto/crypto_service.h"
#include "dbus/dbus_handles.h"
#include "session/network_protocol.h"
#include "session/packet.h"

// The protocol engine of one session: the session cipher, the D-Bus transport, the control
// words of the last packet received, the session flags, the service credential and the
// current transfer context (the object handlers read requests from and answer through).
// Used from the dispatch thread only; no locks.
//
// Fallible operations clear ec and return true (or a value) on success; on failure they
// return false (or an empty value) with the reason in ec: "transfer" codes, or the cipher's
// ("crypto") and the transport's ("network", generic) codes passed through unchanged.
//
// Secrets: every decrypted request body is wiped when it is dropped.
class transfer_protocol {
  public:
    using bytes = std::vector<unsigned char>;

    // Where requests are read and answers written; defined in session/transfer_context.h.
    class transfer_context;

    transfer_protocol();
    // Moves every member; an installed context is rebuilt bound to the new object. The source
    // is left with zero words, no credential, no context and all flags false.
    transfer_protocol(transfer_protocol&& other) noexcept;
    transfer_protocol& operator=(transfer_protocol&& other) noexcept;
    transfer_protocol(const transfer_protocol&) = delete;
    transfer_protocol& operator=(const transfer_protocol&) = delete;
    ~transfer_protocol();

    // Initializes the session cipher with a provider factory of its own seeded from seed.
    bool init_crypto(const bytes& seed, std::error_code& ec);
    // Initializes the session cipher from the shared factory (the daemon's "factory" object).
    // Drops the encryptor, so the handshake starts over.
    bool init_crypto(const crypto_factory& factory, std::error_code& ec);

    // The session cipher and the transport; owned by this object.
    crypto_service& crypto() noexcept { return m_crypto; }
    const crypto_service& crypto() const noexcept { return m_crypto; }
    network_protocol& network() noexcept { return m_network; }
    const network_protocol& network() const noexcept { return m_network; }
    // The current context; null before "Open" and after a close or a reset.
    transfer_context* context() const noexcept { return m_context.get(); }

    // Opens the service container with password. Either argument missing or empty: "Invalid
    // argument" and the credential unchanged; the cipher's error when it refuses. On success
    // the password becomes the credential. It is shared, not copied: the service password is
    // the same for every session, and its owner wipes it.
    bool auth(std::shared_ptr<const std::wstring> password, const bytes& container,
              std::error_code& ec);
    // True when auth() has accepted a credential since the last reset.
    bool has_credential() const noexcept { return m_credential != nullptr; }

    // A present packet stores its three words and yields (true, payload); the all-zero packet
    // yields (false, empty) and leaves the stored words alone.
    std::pair<bool, bytes> parse(packet&& received);

    // Questions on the stored words.
    bool is_request() const noexcept;
    bool is_confirm_required() const noexcept;
    bool is_response_required() const noexcept;
    // status when the stored packet is a request, else 0.
    std::uint32_t get_request() const noexcept;
    std::uint32_t get_status() const noexcept { return m_status; }
    std::uint32_t get_header() const noexcept { return m_header; }
    std::uint32_t get_metadata() const noexcept { return m_metadata; }

    bool is_session_established() const noexcept { return m_established; }
    bool is_session_secured() const noexcept { return m_secured; }
    bool is_session_authenticated() const noexcept { return m_authenticated; }

    // Compares the stored words in the order header, metadata, status; the first mismatch is
    // "Bad header", "Bad metadata" or "Bad status".
    bool check_protocol_header(std::uint32_t header, std::uint32_t metadata,
                               std::error_code& ec) const;
    bool check_protocol_header(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                               std::error_code& ec) const;

    // The precondition of every secure operation: secured ("Session not secured"), an
    // encryptor ("Crypto service isn't ready"), established ("Session not established").
    bool prepared(std::error_code& ec) const;

    // A packet flattened (short form without data, long form with data, status 4 when not
    // given) and encrypted; empty on failure.
    bytes pack(std::uint32_t header, std::uint32_t metadata, std::error_code& ec) const;
    bytes pack(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
               std::error_code& ec) const;
    bytes pack(std::uint32_t header, std::uint32_t metadata, const bytes& data,
               std::error_code& ec) const;
    bytes pack(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
               const bytes& data, std::error_code& ec) const;
    // Decrypts and decodes; the all-zero packet on failure (or when nothing decrypts).
    packet unpack(const bytes& cipher, std::error_code& ec) const;

    // Answers the current call with one encrypted packet.
    bool response(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                  std::error_code& ec);
    bool response(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                  std::error_code& ec);
    bool response(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                  const bytes& data, std::error_code& ec);
    // Answers the current call with the encrypted short packet (stored header, 64, 1 or 2).
    bool confirm(bool ok, std::error_code& ec);

    // Client side: a blocking call carrying one encrypted packet; the decoded reply, or the
    // all-zero packet on any failure.
    packet request(std::uint32_t header, std::uint32_t metadata, std::error_code& ec);
    packet request(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                   std::error_code& ec);
    packet request(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                   std::error_code& ec);
    packet request(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                   const bytes& data, std::error_code& ec);
    // Client side: one encrypted packet in a call that expects no reply.
    bool send(std::uint32_t header, std::uint32_t metadata, std::error_code& ec);
    bool send(std::uint32_t header, std::uint32_t metadata, const bytes& data, std::error_code& ec);

    // Replace the current context with a new one of that kind bound to this object.
    void set_unsafe_context();
    void set_secure_context();
    // Destroys the current context and leaves none.
    void reset_transfer_context() noexcept;

    // Clears established, secured, the stored words and the handshake's progress; keeps the
    // credential, the cipher, the context and authenticated.
    void reset_context() noexcept;
    // Resets the cipher first (dropping the encryptor); if that fails, returns false and
    // changes nothing else. Then clears established, secured, the words, the credential and
    // the handshake's progress and destroys the context; authenticated stays.
    bool reset(std::error_code& ec);
    // The same clearing without an error code, then a cipher reset, falling back to a forced
    // one; for discarding a session.
    void reset() noexcept;

    // The check the request dispatch runs on every call of an established secure session
    // before a work handler sees it: prepared(), then the call's single byte array is
    // decrypted and decoded and its words must be (header, metadata) (the status is the
    // request's own). An empty array, a ciphertext that does not decrypt, a bad length or a
    // checksum mismatch: "Data corrupted"; other words: "Bad header" or "Bad metadata". Both
    // flat forms of an empty body pass. On success the words are stored and the body is kept
    // for this call: the secure context's receive() returns it without reading the call
    // again. Nothing is answered either way; the dispatch decides the reply.
    bool verify_request(std::uint32_t header, std::uint32_t metadata, std::error_code& ec);

  protected:
    // The handshake's own flags, for the steps of transfer_server.
    void set_established(bool on) noexcept { m_established = on; }
    void set_secured(bool on) noexcept { m_secured = on; }
    void set_authenticated(bool on) noexcept { m_authenticated = on; }
    const std::wstring& credential() const noexcept { return *m_credential; }

    // Progress of the current handshake, cleared by the resets and by init_crypto:
    // whether the client's key material was imported (so there is an answer to give) and
    // whether the account's token reached the session key.
    bool key_material_imported() const noexcept { return m_key_material_imported; }
    void set_key_material_imported(bool on) noexcept { m_key_material_imported = on; }
    bool token_applied() const noexcept { return m_token_applied; }
    void set_token_applied(bool on) noexcept { m_token_applied = on; }

  private:
    friend class secure_context;

    // The body kept by verify_request() when message is still the current call; empty
    // (false) otherwise. Taking it drops it.
    std::pair<bool, bytes> take_verified_body();
    void drop_verified_body() noexcept;
    void clear_state() noexcept;

    crypto_service m_crypto;
    network_protocol m_network;
    std::uint32_t m_header = 0;
    std::uint32_t m_metadata = 0;
    std::uint32_t m_status = 0;
    std::shared_ptr<const std::wstring> m_credential;
    std::unique_ptr<transfer_context> m_context;
    bool m_secured = false;
    bool m_authenticated = false;
    bool m_established = false;
    bool m_key_material_imported = false;
    bool m_token_applied = false;
    // The call verify_request() accepted (held, so its address cannot be reused) and its body.
    dbus_handle::message_ptr m_verified_message;
    bytes m_verified_body;
};
