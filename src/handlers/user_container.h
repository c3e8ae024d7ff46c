#pragma once

#include "database/database.h"
#include "session/transfer_session.h"

namespace profile_manage_handler {

// "GetContainer": the request body names the account the client acts for. An administrator
// of that name wins over a user of the same name; none is "User not found" (1029). On a
// session not yet opened the session takes the account's role and id and the reply carries
// the account's key container; an opened session answers "Session is already open" (8193)
// and stays as it was.
void get_container(transfer_session& session, Database& database);

}  // namespace profile_manage_handler
