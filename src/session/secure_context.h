#pragma once

#include "session/transfer_context.h"

// The encrypted context: each packet is flattened with its CRC-32, encrypted by the session
// cipher and carried as one byte array; data packets have header 1. Every operation but
// recv() first checks transfer_protocol::prepared(); emit_signal() checks only that the
// session is established.
class secure_context final : public transfer_protocol::transfer_context {
  public:
    explicit secure_context(transfer_protocol& protocol) noexcept : m_protocol(&protocol) {}

    bool send(const bytes& data, bool confirm, std::error_code& ec) override;
    bytes request(dbus_iface::iface&& address, std::error_code& ec) override;
    bytes request(dbus_iface::iface&& address, const bytes& data, std::error_code& ec) override;
    bool emit_signal(dbus_iface::iface&& address, std::error_code& ec) override;
    bool confirm(bool ok, std::error_code& ec) override;
    bool response(std::uint32_t status, std::error_code& ec) override;
    bool response(const bytes& data, std::error_code& ec) override;
    bool response(std::uint32_t status, const bytes& data, std::error_code& ec) override;
    // The body verify_request() kept for the current call, if any; otherwise the call's
    // byte array decrypted and decoded (an empty array gives an empty body).
    bytes receive(std::error_code& ec) override;
    bytes recv(std::error_code& ec) override;

  private:
    void rebind(transfer_protocol& protocol) noexcept override { m_protocol = &protocol; }
    bytes request_with(dbus_iface::iface&& address, const bytes* data, std::error_code& ec);

    transfer_protocol* m_protocol;
};
