#include "session/secure_context.h"

#include <utility>

#include "session/transfer_error.h"
#include "system/wipe.h"

namespace {

constexpr std::uint32_t kSecure = to_word(transfer_protocol_header::secure_transfer);
constexpr std::uint32_t kConfirmed = to_word(transfer_protocol_phase::send_confirmed);
constexpr std::uint32_t kUnconfirmed = to_word(transfer_protocol_phase::send_unconfirmed);
constexpr std::uint32_t kConfirm = to_word(transfer_protocol_phase::confirm);
constexpr std::uint32_t kRequest = to_word(transfer_protocol_phase::request);
constexpr std::uint32_t kResponse = to_word(transfer_protocol_phase::response);

// A decrypted payload that is not handed on is wiped before it is freed.
void drop(secure_context::bytes& data) noexcept {
    util::wipe(data);
    data.clear();
}

}  // namespace

bool secure_context::send(const bytes& data, bool confirm, std::error_code& ec) {
    if (!m_protocol->prepared(ec)) {
        return false;
    }
    if (!confirm) {
        return m_protocol->send(kSecure, kUnconfirmed, data, ec);
    }
    packet reply = m_protocol->request(kSecure, kConfirmed, data, ec);
    if (!m_protocol->parse(std::move(reply)).first) {
        if (!ec) {
            ec = transfer_error::not_confirmed;
        }
        return false;
    }
    return m_protocol->check_protocol_header(kSecure, kConfirm, kStatusAccepted, ec);
}

secure_context::bytes secure_context::request_with(dbus_iface::iface&& address, const bytes* data,
                                                   std::error_code& ec) {
    if (!m_protocol->prepared(ec)) {
        return {};
    }
    m_protocol->network().set_interface(std::move(address));
    packet reply = data != nullptr ? m_protocol->request(kSecure, kRequest, *data, ec)
                                   : m_protocol->request(kSecure, kRequest, ec);
    auto [present, payload] = m_protocol->parse(std::move(reply));
    if (!present) {
        if (!ec) {
            ec = transfer_error::not_confirmed;
        }
        return {};
    }
    if (!m_protocol->check_protocol_header(kSecure, kResponse, ec)) {
        drop(payload);
        return {};
    }
    return std::move(payload);
}

secure_context::bytes secure_context::request(dbus_iface::iface&& address, std::error_code& ec) {
    return request_with(std::move(address), nullptr, ec);
}

secure_context::bytes secure_context::request(dbus_iface::iface&& address, const bytes& data,
                                              std::error_code& ec) {
    return request_with(std::move(address), &data, ec);
}

bool secure_context::emit_signal(dbus_iface::iface&& address, std::error_code& ec) {
    if (!m_protocol->is_session_established()) {
        ec = transfer_error::not_established;
        return false;
    }
    m_protocol->network().set_interface(std::move(address));
    return m_protocol->network().emit_signal(ec);
}

bool secure_context::confirm(bool ok, std::error_code& ec) {
    return m_protocol->prepared(ec) && m_protocol->confirm(ok, ec);
}

bool secure_context::response(std::uint32_t status, std::error_code& ec) {
    return m_protocol->prepared(ec) && m_protocol->response(kSecure, kResponse, status, ec);
}

bool secure_context::response(const bytes& data, std::error_code& ec) {
    return m_protocol->prepared(ec) && m_protocol->response(kSecure, kResponse, data, ec);
}

bool secure_context::response(std::uint32_t status, const bytes& data, std::error_code& ec) {
    return m_protocol->prepared(ec) && m_protocol->response(kSecure, kResponse, status, data, ec);
}

secure_context::bytes secure_context::receive(std::error_code& ec) {
    if (!m_protocol->prepared(ec)) {
        return {};
    }
    if (auto [kept, body] = m_protocol->take_verified_body(); kept) {
        return std::move(body);
    }
    const bytes cipher = m_protocol->network().receive(ec);
    if (ec || cipher.empty()) {
        return {};
    }
    packet received = m_protocol->unpack(cipher, ec);
    if (ec) {
        return {};
    }
    auto [present, payload] = m_protocol->parse(std::move(received));
    if (present && m_protocol->get_metadata() == kConfirmed &&
        !m_protocol->response(m_protocol->get_header(), kConfirm, kStatusAccepted, ec)) {
        drop(payload);
        return {};
    }
    return std::move(payload);
}

secure_context::bytes secure_context::recv(std::error_code& ec) {
    packet received = m_protocol->network().receive_total(ec);
    if (ec) {
        return {};
    }
    return m_protocol->parse(std::move(received)).second;
}
