#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace disk_handler {

// "Create": makes the encrypted disk of the user the body names (administrator sessions
// only): a container file, formatted through the driver with the user's disk key, owned by
// the user, and recorded in the user's entry.
void create(transfer_session_safe& session, Database& database);

}  // namespace disk_handler
