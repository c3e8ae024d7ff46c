#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetAdminList": the info record of every administrator (administrator sessions only).
void get_admin_list(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
