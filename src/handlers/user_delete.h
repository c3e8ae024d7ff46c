#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace user_handler {

// "Remove": removes a user entry; saved with the next save of the database.
void delete_user(transfer_session_safe& session, Database& database);

}  // namespace user_handler
