#include "handlers/user_status.h"

#include "daemon/ztctl_error.h"
#include "database/serializer.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/info_list.h"
#include "handlers/respond.h"

namespace profile_manage_handler {

void status(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to obtain status: %s"));
    if (!session.is_opened() || !session.is_accessed()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    Serializer lists;
    lists.push_back(handler_entry::info_list(database.get_user_list()));
    lists.push_back(handler_entry::info_list(database.get_admin_list()));
    guard.reply = reply_builder(reply_status_code::success, lists.serialize()).obtain();
}

}  // namespace profile_manage_handler
