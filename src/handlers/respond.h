#pragma once

#include <system_error>
#include <vector>

#include "session/transfer_session_safe.h"

namespace handler_reply {

// Sends a reply payload through the session's current transfer context (encrypted in a
// secure session). A session without a context cannot be answered this way: "Session isn't
// established" (ztctl 8194); otherwise the context's error.
bool respond(transfer_session_safe& session, const std::vector<unsigned char>& reply,
             std::error_code& ec);

// Sends a reply that holds no secret (a status or an error record) through the session's
// context; when there is none, or it cannot carry the reply (a handshake in progress), in
// the clear form of the unsafe context (2, 128, reply), so that no caller waits for an
// answer that never comes. Never use it for a payload that must stay encrypted.
bool respond_or_clear(transfer_session_safe& session, const std::vector<unsigned char>& reply,
                      std::error_code& ec);

// The error reply of error (respond_or_clear) and the warning with format (one "%s" for
// the error's message) that every failing request logs. A failure to send is dropped.
void fail(transfer_session_safe& session, const char* format, const std::error_code& error);

}  // namespace handler_reply

namespace handler_reply {

// The one reply of a handler, sent when the guard goes: the error reply of ec with its
// warning when ec is set, otherwise reply (the plain success reply unless the handler put
// a payload there). Handlers set it up first, so that every path answers exactly once.
class reply_guard {
  public:
    reply_guard(transfer_session_safe& session, const char* warning);
    reply_guard(const reply_guard&) = delete;
    reply_guard& operator=(const reply_guard&) = delete;
    ~reply_guard();

    std::error_code ec;
    std::vector<unsigned char> reply;

  private:
    transfer_session_safe& m_session;
    const char* m_warning;
};

}  // namespace handler_reply
