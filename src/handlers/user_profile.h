#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetProfile": the profile of the account the body names (administrators first).
void get_profile(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
