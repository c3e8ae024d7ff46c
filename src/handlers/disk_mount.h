#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace disk_handler {

// "Mount": the session user's disk, opened with the key the body carries, mounted on the
// user's mount directory (nosuid, nodev, dirsync) and given to the user.
void mount(transfer_session_safe& session, Database& database);
// "MountUuid": the same for the disk the body names by UUID, with the key beside it.
void mount_uuid(transfer_session_safe& session, Database& database);

}  // namespace disk_handler
