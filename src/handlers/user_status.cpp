#include "handlers/user_status.h"

#include "daemon/ztctl_error.h"
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
    // The users' list can be long: written once, straight into the reply.
    guard.reply = reply_builder::success_frame([&](frame_writer& lists) {
        handler_entry::add_info_list(lists, database.get_user_list());
        handler_entry::add_info_list(lists, database.get_admin_list());
    });
}

}  // namespace profile_manage_handler
