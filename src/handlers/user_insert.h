#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace user_handler {

// "Add": registers an existing system account from the key store file the request names.
void insert_user(transfer_session_safe& session, Database& database);

}  // namespace user_handler
