#include "handlers/user_admin_list.h"

#include "daemon/ztctl_error.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/info_list.h"
#include "handlers/respond.h"

namespace profile_manage_handler {

void get_admin_list(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to get a list of admins: %s"));
    if (!session.is_opened() || !session.is_accessed()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    guard.reply = reply_builder::success_frame([&](frame_writer& admins) {
        handler_entry::add_info_records(admins, database.get_admin_list());
    });
}

}  // namespace profile_manage_handler
