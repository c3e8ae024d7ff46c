#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace profile_manage_handler {

// "GetSymmetricMaterialUuid": the session user's symmetric material, for the disk the
// body names by its UUID.
void get_symmetric_material_uuid(transfer_session_safe& session, Database& database);

}  // namespace profile_manage_handler
