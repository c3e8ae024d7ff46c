#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetSymmetricMaterial": a copy of the session's own symmetric material.
void get_symmetric_material(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
