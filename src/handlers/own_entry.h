#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace handler_entry {

// The entry of the account the session acts for: among administrators for an
// administrator session, among users otherwise; null when there is none.
inline db::DatabaseEntry* own_entry(const transfer_session_safe& session, Database& database) {
    if (session.is_admin()) {
        return database.select_admin_entry(session.user_id());
    }
    return database.select_user_entry(session.user_id());
}

}  // namespace handler_entry
