#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace disk_handler {

// "Unmount": unmounts the session user's disk and releases its devices. A busy file system
// is left mounted (EBUSY); "ForceUnmount" is the remedy.
void unmount(transfer_session_safe& session, Database& database);
// "UnmountUuid": the same for the disk the body names by UUID.
void unmount_uuid(transfer_session_safe& session, Database& database);

}  // namespace disk_handler
