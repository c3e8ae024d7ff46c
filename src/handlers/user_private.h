#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "SetPrivateParameter": hands the token of the session's own account (an administrator
// when the session's role is administrator, else a user, by the session's user id) to the
// handshake, which answers the call itself. No such account: the error reply "User not
// found" (1029).
void set_private_parameter(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
