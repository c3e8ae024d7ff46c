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

// The error reply of error through the session's context, and the warning with format (one
// "%s" for the error's message) that every failing request logs. A failure to send is
// dropped: the client's call then ends with the bus's own error.
void fail(transfer_session_safe& session, const char* format, const std::error_code& error);

}  // namespace handler_reply
