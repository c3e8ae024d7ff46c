#include "handlers/user_sym_material.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/own_entry.h"
#include "handlers/respond.h"

namespace profile_manage_handler {

void get_symmetric_material(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to retrieve data: %s"));
    if (!session.is_opened()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    db::DatabaseEntry* entry = handler_entry::own_entry(session, database);
    if (entry == nullptr) {
        guard.ec = database_error::user_not_found;
        return;
    }
    auto material = entry->get_symmetric_material();
    guard.reply = reply_builder(reply_status_code::success, std::move(material)).obtain();
}

}  // namespace profile_manage_handler
