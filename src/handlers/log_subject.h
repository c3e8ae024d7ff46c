#pragma once

#include "database/user_entry.h"

namespace handler_log {

// From now until the request ends, the daemon's journal entries name this user and, once
// it has one, the user's disk.
void log_subject(const db::UserEntry& user);

}  // namespace handler_log
