#include "handlers/user_profile.h"

#include <string>

#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"

namespace profile_manage_handler {

void get_profile(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to retrieve a user profile: %s"));
    const auto body = session.protocol().context()->receive(guard.ec);
    if (guard.ec) {
        return;
    }
    const std::string name(body.begin(), body.end());
    db::DatabaseEntry* entry = database.select_admin_entry(name);
    if (entry == nullptr) {
        entry = database.select_user_entry(name);
    }
    if (entry == nullptr) {
        guard.ec = database_error::user_not_found;
        return;
    }
    guard.reply = reply_builder(reply_status_code::success, entry->profile().serialize()).obtain();
}

}  // namespace profile_manage_handler
