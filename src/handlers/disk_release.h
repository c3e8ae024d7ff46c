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

// session_user() of an opened session; "Session is not open or unsafe" (8192) otherwise.
db::UserEntry* opened_user(const transfer_session_safe& session, Database& database,
                           std::error_code& ec);

// The user of an opened session whose disk the request body names: the disk's files must be
// present, the body a DiskControl record ("Invalid request format", 8196, when empty) whose
// UUID is the disk's ("UUID not found", 1032, otherwise).
db::UserEntry* user_of_named_disk(transfer_session_safe& session, Database& database,
                                  std::error_code& ec);

// A disk that can be unmounted: mounted ("Disk is unmounted", 8201, otherwise) on a known
// directory ("Unmount failure", 8205, otherwise).
bool check_mounted(const db::DiskEntry& disk, std::error_code& ec);

// After the file system of user's disk was unmounted: marks the disk unmounted (status 3),
// removes the driver device and detaches the loop device, clearing their stored paths. A
// loop device that cannot be restored from its stored path keeps the path and gives
// restore's error; strict also reports every other teardown error, otherwise those are
// dropped (the disk is unmounted, which is what the caller asked for).
bool release_disk(db::UserEntry& user, bool strict, std::error_code& ec);

}  // namespace disk_handler
