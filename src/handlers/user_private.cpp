#include "handlers/user_private.h"

#include <system_error>

#include "database/dberror.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"
#include "logging/logger.h"
#include "session/transfer_server.h"

namespace profile_manage_handler {

void set_private_parameter(transfer_session_safe& session, Database& database) {
    const char* const warning = _("Unable to apply a token: %s");
    db::DatabaseEntry* entry = nullptr;
    if (session.is_admin()) {
        entry = database.select_admin_entry(session.user_id());
    } else {
        entry = database.select_user_entry(session.user_id());
    }
    if (entry == nullptr) {
        handler_reply::fail(session, warning, database_error::user_not_found);
        return;
    }
    std::error_code ec;
    if (!session.protocol().apply_token(entry->get_parameter(), ec)) {
        // The handshake has answered (or could not answer) on its own.
        ztl::Logger::warning(warning, ec.message());
    }
}

}  // namespace profile_manage_handler
