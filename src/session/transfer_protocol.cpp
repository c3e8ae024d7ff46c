#include "session/transfer_protocol.h"

#include <utility>

#include "session/secure_context.h"
#include "session/transfer_context.h"
#include "session/transfer_error.h"
#include "session/unsafe_context.h"
#include "system/wipe.h"

namespace {

using bytes = transfer_protocol::bytes;

void wipe(bytes& data) noexcept {
    util::wipe(data);
    data.clear();
}

// Encrypts a flattened packet; the plain copy is wiped either way.
bytes seal(const crypto_service& cipher, bytes&& plain, std::error_code& ec) {
    bytes sealed = cipher.encrypt(plain, ec);
    wipe(plain);
    return sealed;
}

}  // namespace

transfer_protocol::transfer_protocol() = default;

transfer_protocol::transfer_protocol(transfer_protocol&& other) noexcept
    : m_crypto(std::move(other.m_crypto)),
      m_network(std::move(other.m_network)),
      m_header(std::exchange(other.m_header, 0)),
      m_metadata(std::exchange(other.m_metadata, 0)),
      m_status(std::exchange(other.m_status, 0)),
      m_credential(std::move(other.m_credential)),
      m_context(std::move(other.m_context)),
      m_secured(std::exchange(other.m_secured, false)),
      m_authenticated(std::exchange(other.m_authenticated, false)),
      m_established(std::exchange(other.m_established, false)),
      m_key_material_imported(std::exchange(other.m_key_material_imported, false)),
      m_token_applied(std::exchange(other.m_token_applied, false)),
      m_verified_message(std::move(other.m_verified_message)),
      m_verified_body(std::move(other.m_verified_body)) {
    other.m_credential.reset();
    other.m_verified_body.clear();
    if (m_context) {
        m_context->rebind(*this);
    }
}

transfer_protocol& transfer_protocol::operator=(transfer_protocol&& other) noexcept {
    if (this != &other) {
        clear_state();
        m_crypto = std::move(other.m_crypto);
        m_network = std::move(other.m_network);
        m_header = std::exchange(other.m_header, 0);
        m_metadata = std::exchange(other.m_metadata, 0);
        m_status = std::exchange(other.m_status, 0);
        m_credential = std::move(other.m_credential);
        other.m_credential.reset();
        m_context = std::move(other.m_context);
        if (m_context) {
            m_context->rebind(*this);
        }
        m_secured = std::exchange(other.m_secured, false);
        m_authenticated = std::exchange(other.m_authenticated, false);
        m_established = std::exchange(other.m_established, false);
        m_key_material_imported = std::exchange(other.m_key_material_imported, false);
        m_token_applied = std::exchange(other.m_token_applied, false);
        m_verified_message = std::move(other.m_verified_message);
        m_verified_body = std::move(other.m_verified_body);
        other.m_verified_body.clear();
    }
    return *this;
}

transfer_protocol::~transfer_protocol() {
    drop_verified_body();
}

bool transfer_protocol::init_crypto(const bytes& seed, std::error_code& ec) {
    m_key_material_imported = false;
    m_token_applied = false;
    return m_crypto.initialize(seed, ec);
}

bool transfer_protocol::init_crypto(const crypto_factory& factory, std::error_code& ec) {
    m_key_material_imported = false;
    m_token_applied = false;
    return m_crypto.initialize(factory, ec);
}

bool transfer_protocol::auth(std::shared_ptr<const std::wstring> password, const bytes& container,
                             std::error_code& ec) {
    if (!password || password->empty() || container.empty()) {
        ec = transfer_error::invalid_argument;
        return false;
    }
    if (!m_crypto.import_container(*password, container, ec)) {
        return false;
    }
    m_credential = std::move(password);
    return true;
}

std::pair<bool, bytes> transfer_protocol::parse(packet&& received) {
    if (!received) {
        return {false, {}};
    }
    m_header = received.header;
    m_metadata = received.metadata;
    m_status = received.status;
    return {true, std::move(received.data)};
}

bool transfer_protocol::is_request() const noexcept {
    return m_metadata == to_word(transfer_protocol_phase::request);
}

bool transfer_protocol::is_confirm_required() const noexcept {
    return m_metadata == to_word(transfer_protocol_phase::confirm);
}

bool transfer_protocol::is_response_required() const noexcept {
    return is_request() || is_confirm_required();
}

std::uint32_t transfer_protocol::get_request() const noexcept {
    return is_request() ? m_status : 0;
}

bool transfer_protocol::check_protocol_header(std::uint32_t header, std::uint32_t metadata,
                                              std::error_code& ec) const {
    if (header != m_header) {
        ec = transfer_error::bad_header;
        return false;
    }
    if (metadata != m_metadata) {
        ec = transfer_error::bad_metadata;
        return false;
    }
    ec.clear();
    return true;
}

bool transfer_protocol::check_protocol_header(std::uint32_t header, std::uint32_t metadata,
                                              std::uint32_t status, std::error_code& ec) const {
    if (!check_protocol_header(header, metadata, ec)) {
        return false;
    }
    if (status != m_status) {
        ec = transfer_error::bad_status;
        return false;
    }
    return true;
}

bool transfer_protocol::prepared(std::error_code& ec) const {
    if (!m_secured) {
        ec = transfer_error::not_secured;
        return false;
    }
    if (!m_crypto.ready()) {
        ec = transfer_error::crypto_not_ready;
        return false;
    }
    if (!m_established) {
        ec = transfer_error::not_established;
        return false;
    }
    ec.clear();
    return true;
}

bytes transfer_protocol::pack(std::uint32_t header, std::uint32_t metadata,
                              std::error_code& ec) const {
    return seal(m_crypto, serialize(header, metadata), ec);
}

bytes transfer_protocol::pack(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                              std::error_code& ec) const {
    return seal(m_crypto, serialize(header, metadata, status), ec);
}

bytes transfer_protocol::pack(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                              std::error_code& ec) const {
    return seal(m_crypto, serialize(header, metadata, data), ec);
}

bytes transfer_protocol::pack(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                              const bytes& data, std::error_code& ec) const {
    return seal(m_crypto, serialize(header, metadata, status, data), ec);
}

packet transfer_protocol::unpack(const bytes& cipher, std::error_code& ec) const {
    bytes plain = m_crypto.decrypt(cipher, ec);
    if (plain.empty()) {
        return {};
    }
    packet result = deserialize(plain, ec);
    wipe(plain);
    return result;
}

bool transfer_protocol::response(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                                 std::error_code& ec) {
    const bytes sealed = pack(header, metadata, status, ec);
    return !sealed.empty() && m_network.response(sealed, ec);
}

bool transfer_protocol::response(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                                 std::error_code& ec) {
    const bytes sealed = pack(header, metadata, data, ec);
    return !sealed.empty() && m_network.response(sealed, ec);
}

bool transfer_protocol::response(std::uint32_t header, std::uint32_t metadata, std::uint32_t status,
                                 const bytes& data, std::error_code& ec) {
    const bytes sealed = pack(header, metadata, status, data, ec);
    return !sealed.empty() && m_network.response(sealed, ec);
}

bool transfer_protocol::confirm(bool ok, std::error_code& ec) {
    return response(m_header, to_word(transfer_protocol_phase::acknowledge),
                    ok ? kStatusAccepted : kStatusRefused, ec);
}

namespace {

// Sends the sealed packet as a blocking call and decodes the reply.
packet call_with(const transfer_protocol& protocol, network_protocol& network, const bytes& sealed,
                 std::error_code& ec) {
    if (sealed.empty() || !network.request(sealed, ec)) {
        return {};
    }
    const bytes reply = network.receive(ec);
    if (ec) {
        return {};
    }
    return protocol.unpack(reply, ec);
}

}  // namespace

packet transfer_protocol::request(std::uint32_t header, std::uint32_t metadata,
                                  std::error_code& ec) {
    return call_with(*this, m_network, pack(header, metadata, ec), ec);
}

packet transfer_protocol::request(std::uint32_t header, std::uint32_t metadata,
                                  std::uint32_t status, std::error_code& ec) {
    return call_with(*this, m_network, pack(header, metadata, status, ec), ec);
}

packet transfer_protocol::request(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                                  std::error_code& ec) {
    return call_with(*this, m_network, pack(header, metadata, data, ec), ec);
}

packet transfer_protocol::request(std::uint32_t header, std::uint32_t metadata,
                                  std::uint32_t status, const bytes& data, std::error_code& ec) {
    return call_with(*this, m_network, pack(header, metadata, status, data, ec), ec);
}

bool transfer_protocol::send(std::uint32_t header, std::uint32_t metadata, std::error_code& ec) {
    const bytes sealed = pack(header, metadata, ec);
    return !sealed.empty() && m_network.send(sealed, ec);
}

bool transfer_protocol::send(std::uint32_t header, std::uint32_t metadata, const bytes& data,
                             std::error_code& ec) {
    const bytes sealed = pack(header, metadata, data, ec);
    return !sealed.empty() && m_network.send(sealed, ec);
}

void transfer_protocol::set_unsafe_context() {
    m_context.reset();
    m_context = std::make_unique<unsafe_context>(*this);
}

void transfer_protocol::set_secure_context() {
    m_context.reset();
    m_context = std::make_unique<secure_context>(*this);
}

void transfer_protocol::reset_transfer_context() noexcept {
    m_context.reset();
}

void transfer_protocol::reset_context() noexcept {
    m_established = false;
    m_secured = false;
    m_header = m_metadata = m_status = 0;
    m_key_material_imported = false;
    m_token_applied = false;
    drop_verified_body();
}

void transfer_protocol::clear_state() noexcept {
    reset_context();
    m_credential.reset();
    m_context.reset();
}

bool transfer_protocol::reset(std::error_code& ec) {
    if (!m_crypto.reset(ec)) {
        return false;
    }
    clear_state();
    return true;
}

void transfer_protocol::reset() noexcept {
    clear_state();
    std::error_code ec;
    if (!m_crypto.reset(ec)) {
        m_crypto.force_reset();
    }
}

bool transfer_protocol::verify_request(std::uint32_t header, std::uint32_t metadata,
                                       std::error_code& ec) {
    drop_verified_body();
    if (!prepared(ec)) {
        return false;
    }
    // The caller learns only that no readable packet came, never which check failed: a
    // call without a byte array, an empty one, one that does not decrypt or decode.
    std::error_code decode_error;
    const bytes cipher = m_network.receive(decode_error);
    packet received;
    if (!decode_error && !cipher.empty()) {
        received = unpack(cipher, decode_error);
    }
    if (cipher.empty() || decode_error) {
        ec = transfer_error::data_corrupted;
        return false;
    }
    // The words of this packet decide, never those stored from an earlier one.
    if (received.header != header) {
        ec = transfer_error::bad_header;
        return false;
    }
    if (received.metadata != metadata) {
        ec = transfer_error::bad_metadata;
        return false;
    }
    auto [present, body] = parse(std::move(received));
    (void)present;  // (header, metadata) above are not both 0 for any expected words
    m_verified_message = dbus_handle::retain(m_network.get_message());
    m_verified_body = std::move(body);
    ec.clear();
    return true;
}

std::pair<bool, bytes> transfer_protocol::take_verified_body() {
    if (!m_verified_message || m_verified_message.get() != m_network.get_message()) {
        drop_verified_body();
        return {false, {}};
    }
    m_verified_message.reset();
    return {true, std::exchange(m_verified_body, {})};
}

void transfer_protocol::drop_verified_body() noexcept {
    m_verified_message.reset();
    wipe(m_verified_body);
}
