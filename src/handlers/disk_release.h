#pragma once

#include <system_error>

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace disk_handler {

// Driver module "cryx" live; an unreadable module table gives its error, anything else
// "Kernel module not loaded" (8206).
bool driver_ready(std::error_code& ec);

// The user entry of a user session. Administrator and user ids are counted apart, so an
// administrator session's id may be a user's: it is refused ("Admin doesn't have a disk",
// 8209) instead of acting on that user's disk. No entry: "User not found" (1029).
db::UserEntry* session_user(const transfer_session_safe& session, Database& database,
                            std::error_code& ec);

// After the file system of user's disk was unmounted: marks the disk unmounted (status 3),
// removes the driver device and detaches the loop device, clearing their stored paths. A
// loop device that cannot be restored from its stored path keeps the path and gives
// restore's error; strict also reports every other teardown error, otherwise those are
// dropped (the disk is unmounted, which is what the caller asked for).
bool release_disk(db::UserEntry& user, bool strict, std::error_code& ec);

}  // namespace disk_handler
