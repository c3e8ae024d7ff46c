#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace user_handler {

// "Identify": status 1 when the body names a registered user, 2 otherwise.
void is_user_registered(transfer_session_safe& session, Database& database);

}  // namespace user_handler
