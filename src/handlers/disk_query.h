#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

// Questions about the disk of the session's user; none changes anything.
namespace disk_handler {

// "GetStatus": the disk's status as a 4-byte little-endian value.
void get_status(transfer_session_safe& session, Database& database);
// "GetReady": true when a disk was created, "Disk not created" (8197) otherwise.
void get_ready(transfer_session_safe& session, Database& database);
// "IsCreated": true or false.
void check(transfer_session_safe& session, Database& database);
// "IsExistUuid": whether the disk carries the UUID the body names.
void is_exist_uuid(transfer_session_safe& session, Database& database);

}  // namespace disk_handler
