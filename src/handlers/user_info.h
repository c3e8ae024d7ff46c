#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetInfo": the info record of the session's own account.
void info(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
