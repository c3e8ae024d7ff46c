#pragma once

#include <system_error>

#include "database/database.h"
#include "session/transfer_session.h"
#include "session/transfer_session_safe.h"

namespace disk_handler {

// "ForceUnmount": ends the processes that hold the session user's mounted disk, then
// unmounts it and releases its devices.
void force_unmount(transfer_session_safe& session, Database& database);
// "ForceUnmountUuid": the same for the disk the body names by UUID.
void force_unmount_uuid(transfer_session_safe& session, Database& database);

}  // namespace disk_handler

// Takes user's disk down if it is mounted, ending whatever holds it; every error of the
// scan, the unmount and the teardown is left in ec.
bool try_force_unmount_user_disk(db::UserEntry& user, std::error_code& ec);

// The end of a session: the disk of a user whose session was opened (its token proven) is
// taken down, a failure only logged; then the session and its protocol are closed. A session
// that was never opened touches no disk, whatever account it named.
void stop_session_handler(transfer_session& session, Database& database);
