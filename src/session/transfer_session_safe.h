#pragma once

#include <cstdint>

class transfer_server;

// The read-only view of a session that request handlers receive: its protocol engine and
// what is known of the caller. Only the handshake frames and identification see the
// session record itself.
class transfer_session_safe {
  public:
    // The session's protocol engine (usable as transfer_protocol).
    virtual transfer_server& protocol() = 0;
    // True after a successful "SetupComplete" until "SwitchContext" or "Close".
    virtual bool is_opened() const = 0;
    // True when the opened session has administrative access.
    virtual bool is_accessed() const = 0;
    // The session's number; changes on a move and on a context switch.
    virtual std::uint64_t id() const = 0;
    // The identified user's or administrator's id; 0 until identified.
    virtual std::uint64_t user_id() const = 0;
    virtual bool is_admin() const = 0;
    virtual bool is_user() const = 0;
    virtual ~transfer_session_safe() = default;

  protected:
    transfer_session_safe() = default;
    transfer_session_safe(const transfer_session_safe&) = default;
    transfer_session_safe& operator=(const transfer_session_safe&) = default;
};
