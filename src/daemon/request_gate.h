#pragma once

#include <cstdint>
#include <optional>
#include <system_error>
#include <vector>

#include "session/transfer_session.h"
#include "store/store_manager.h"

// What the method frames check before a call may reach its work, and how they answer a call
// that may not. Every function answers the call itself when it says no.
namespace service_handler {

// True when the call may go on: the session has a transfer context that can carry a reply
// (a completed "Open" or "SetupComplete", not undone since). Any other session is answered
// with a D-Bus error whose message is the text of "Session isn't established" (8194)
// instead of being handed to a handler that could not answer it.
bool require_context(transfer_session& session, ztl::StoreManager& store);

// True when the call may go on. In an established secure session every call must carry one
// encrypted packet that decrypts, passes its checksum and has these words (any metadata
// when none is given); anything else is answered through the secure context with the error
// reply of the transfer error ("Data corrupted", "Bad header", "Bad metadata"). Outside
// such a session there is nothing to check here.
bool verify_secure_call(transfer_session& session, std::uint32_t header,
                        std::optional<std::uint32_t> metadata);

// Sends a reply payload that holds no secret (a status or an error) through the session's
// context; when there is none or it cannot carry the reply, in the clear form of the
// unsafe context (2, 128, reply), so that the caller is not left waiting.
bool answer(transfer_session_safe& session, const std::vector<unsigned char>& reply,
            std::error_code& ec);

// The error reply of error through the session's context; for a session that require_context
// would turn away, a D-Bus error whose message is the error's text.
void refuse(transfer_session& session, ztl::StoreManager& store, const std::error_code& error);

// True when the bus reports uid 0 for the caller; false when it reports another uid or
// cannot tell.
bool caller_is_root(transfer_session& session, ztl::StoreManager& store);

}  // namespace service_handler
