#include "session/unsafe_context.h"

#include <utility>

#include "session/transfer_error.h"

namespace {

constexpr std::uint32_t kUnsafe = to_word(transfer_protocol_header::unsafe_transfer);
constexpr std::uint32_t kConfirmed = to_word(transfer_protocol_phase::send_confirmed);
constexpr std::uint32_t kUnconfirmed = to_word(transfer_protocol_phase::send_unconfirmed);
constexpr std::uint32_t kConfirm = to_word(transfer_protocol_phase::confirm);
constexpr std::uint32_t kRequest = to_word(transfer_protocol_phase::request);
constexpr std::uint32_t kResponse = to_word(transfer_protocol_phase::response);

}  // namespace

bool unsafe_context::established(std::error_code& ec) const {
    if (!m_protocol->is_session_established()) {
        ec = transfer_error::not_established;
        return false;
    }
    ec.clear();
    return true;
}

bool unsafe_context::send(const bytes& data, bool confirm, std::error_code& ec) {
    if (!established(ec)) {
        return false;
    }
    network_protocol& network = m_protocol->network();
    if (!confirm) {
        return network.send(kUnsafe, kUnconfirmed, data, ec);
    }
    if (!network.request(kUnsafe, kConfirmed, data, ec)) {
        return false;
    }
    packet reply = network.receive_total(ec);
    if (ec) {
        return false;
    }
    if (!m_protocol->parse(std::move(reply)).first) {
        ec = transfer_error::not_confirmed;
        return false;
    }
    return m_protocol->check_protocol_header(kUnsafe, kConfirm, kStatusAccepted, ec);
}

unsafe_context::bytes unsafe_context::request_with(dbus_iface::iface&& address, const bytes* data,
                                                   std::error_code& ec) {
    if (!established(ec)) {
        return {};
    }
    network_protocol& network = m_protocol->network();
    network.set_interface(std::move(address));
    const bool answered = data != nullptr ? network.request(kUnsafe, kRequest, *data, ec)
                                          : network.request(kUnsafe, kRequest, ec);
    if (!answered) {
        return {};
    }
    packet reply = network.receive_total(ec);
    if (ec) {
        return {};
    }
    auto [present, payload] = m_protocol->parse(std::move(reply));
    if (!present) {
        ec = transfer_error::not_confirmed;
        return {};
    }
    if (!m_protocol->check_protocol_header(kUnsafe, kResponse, ec)) {
        return {};
    }
    return std::move(payload);
}

unsafe_context::bytes unsafe_context::request(dbus_iface::iface&& address, std::error_code& ec) {
    return request_with(std::move(address), nullptr, ec);
}

unsafe_context::bytes unsafe_context::request(dbus_iface::iface&& address, const bytes& data,
                                              std::error_code& ec) {
    return request_with(std::move(address), &data, ec);
}

bool unsafe_context::emit_signal(dbus_iface::iface&& address, std::error_code& ec) {
    if (!established(ec)) {
        return false;
    }
    m_protocol->network().set_interface(std::move(address));
    return m_protocol->network().emit_signal(ec);
}

bool unsafe_context::confirm(bool ok, std::error_code& ec) {
    return established(ec) &&
           m_protocol->network().response(m_protocol->get_header(), kConfirm,
                                          ok ? kStatusAccepted : kStatusRefused, ec);
}

bool unsafe_context::response(std::uint32_t status, std::error_code& ec) {
    return established(ec) && m_protocol->network().response(kUnsafe, kResponse, status, ec);
}

bool unsafe_context::response(const bytes& data, std::error_code& ec) {
    return established(ec) && m_protocol->network().response(kUnsafe, kResponse, data, ec);
}

bool unsafe_context::response(std::uint32_t status, const bytes& data, std::error_code& ec) {
    return established(ec) && m_protocol->network().response(kUnsafe, kResponse, status, data, ec);
}

unsafe_context::bytes unsafe_context::receive(std::error_code& ec) {
    if (!established(ec)) {
        return {};
    }
    packet received = m_protocol->network().receive_total(ec);
    if (ec) {
        return {};
    }
    auto [present, payload] = m_protocol->parse(std::move(received));
    if (present && m_protocol->get_metadata() == kConfirmed &&
        !m_protocol->network().response(m_protocol->get_header(), kConfirm, kStatusAccepted, ec)) {
        return {};
    }
    return std::move(payload);
}

unsafe_context::bytes unsafe_context::recv(std::error_code& ec) {
    packet received = m_protocol->network().receive_total(ec);
    if (ec) {
        return {};
    }
    return m_protocol->parse(std::move(received)).second;
}
