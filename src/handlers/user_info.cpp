#include "handlers/user_info.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"

namespace profile_manage_handler {

void info(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to get info: %s"));
    if (!session.is_opened()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    db::DatabaseEntry* entry = nullptr;
    if (session.is_user()) {
        entry = database.select_user_entry(session.user_id());
    } else {
        entry = database.select_admin_entry(session.user_id());
    }
    if (entry == nullptr) {
        guard.ec = database_error::user_not_found;
        return;
    }
    guard.reply = reply_builder(reply_status_code::success, entry->info().serialize()).obtain();
}

}  // namespace profile_manage_handler
