#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetList": the info records of every user, then of every administrator (administrator
// sessions only).
void status(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
