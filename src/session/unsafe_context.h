#pragma once

#include "session/transfer_context.h"

// The clear context: words and payload travel as plain D-Bus arguments ("u", "u", "u",
// "ay"), data packets with header 2. Every operation but recv() needs an established
// session ("Session not established"); emit_signal() needs nothing more.
class unsafe_context final : public transfer_protocol::transfer_context {
  public:
    explicit unsafe_context(transfer_protocol& protocol) noexcept : m_protocol(&protocol) {}

    bool send(const bytes& data, bool confirm, std::error_code& ec) override;
    bytes request(dbus_iface::iface&& address, std::error_code& ec) override;
    bytes request(dbus_iface::iface&& address, const bytes& data, std::error_code& ec) override;
    bool emit_signal(dbus_iface::iface&& address, std::error_code& ec) override;
    bool confirm(bool ok, std::error_code& ec) override;
    bool response(std::uint32_t status, std::error_code& ec) override;
    bool response(const bytes& data, std::error_code& ec) override;
    bool response(std::uint32_t status, const bytes& data, std::error_code& ec) override;
    bytes receive(std::error_code& ec) override;
    bytes recv(std::error_code& ec) override;

  private:
    void rebind(transfer_protocol& protocol) noexcept override { m_protocol = &protocol; }
    bool established(std::error_code& ec) const;
    bytes request_with(dbus_iface::iface&& address, const bytes* data, std::error_code& ec);

    transfer_protocol* m_protocol;
};
