#pragma once

#include <cstdint>
#include <system_error>
#include <vector>

#include "dbus/dbus_iface.h"
#include "session/transfer_protocol.h"

// What request handlers read a request from (receive) and answer through (response); the
// other operations serve clients built on the same classes. A context is owned by its
// transfer_protocol and bound to it. Every failure gives false or an empty vector with the
// reason in ec.
//
// One-way data: a sender that wants a confirmation marks its packet send_confirmed (1) and
// waits for (header, confirm 4, accepted 1) in the reply to that very call. A receiving
// context's receive() therefore answers a present packet whose metadata is 1 with exactly
// those words, as a reply to the current call (encrypted in the secure context, three plain
// words in the unsafe one), so that a confirmed send against this receiver succeeds.
// Requests (metadata 16) and unconfirmed data (2) are never answered by receive().
class transfer_protocol::transfer_context {
  public:
    using bytes = std::vector<unsigned char>;

    virtual ~transfer_context() = default;

    // One-way data; with confirm the call waits for the receiver's confirmation.
    virtual bool send(const bytes& data, bool confirm, std::error_code& ec) = 0;
    // A request to the method iface names; the payload of the matching response.
    virtual bytes request(dbus_iface::iface&& address, std::error_code& ec) = 0;
    virtual bytes request(dbus_iface::iface&& address, const bytes& data, std::error_code& ec) = 0;
    // A signal without arguments from the address iface names.
    virtual bool emit_signal(dbus_iface::iface&& address, std::error_code& ec) = 0;
    // Answers the current call with an acceptance (ok) or a refusal.
    virtual bool confirm(bool ok, std::error_code& ec) = 0;
    // Answers the current request with a status, a payload, or both.
    virtual bool response(std::uint32_t status, std::error_code& ec) = 0;
    virtual bool response(const bytes& data, std::error_code& ec) = 0;
    virtual bool response(std::uint32_t status, const bytes& data, std::error_code& ec) = 0;
    // The payload of the current call after the context's checks; empty when nothing
    // present was received.
    virtual bytes receive(std::error_code& ec) = 0;
    // The payload of the current call without any check.
    virtual bytes recv(std::error_code& ec) = 0;

  private:
    friend class transfer_protocol;
    // Binds the context to the protocol object it moved into.
    virtual void rebind(transfer_protocol& protocol) noexcept = 0;

  protected:
    transfer_context() = default;
    transfer_context(const transfer_context&) = default;
    transfer_context& operator=(const transfer_context&) = default;
};
