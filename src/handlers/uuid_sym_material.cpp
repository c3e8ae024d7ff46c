#include "handlers/uuid_sym_material.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/disk_control.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/misc.h"

namespace profile_manage_handler {

void get_symmetric_material_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to retrieve data: %s"));
    if (!session.is_opened()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    // Users only: an administrator session's id may equal a user's.
    db::UserEntry* user =
        session.is_user() ? database.select_user_entry(session.user_id()) : nullptr;
    if (user == nullptr) {
        guard.ec = database_error::user_not_found;
        return;
    }
    const auto& disk = user->disk();
    if (!misc::check_disk_paths(disk.get_path(), disk.get_mount_directory(), guard.ec)) {
        return;
    }
    const auto body = session.protocol().context()->receive(guard.ec);
    if (guard.ec || body.empty()) {
        return;
    }
    DiskControl control;
    control.deserialize(body);
    if (!misc::is_uuid_equal(disk.guid(), control.uuid)) {
        guard.ec = database_error::uuid_not_found;
        return;
    }
    auto material = user->get_symmetric_material();
    guard.reply = reply_builder(reply_status_code::success, std::move(material)).obtain();
}

}  // namespace profile_manage_handler
