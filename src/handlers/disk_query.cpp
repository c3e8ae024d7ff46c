#include "handlers/disk_query.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/disk_control.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/cast.h"
#include "system/misc.h"

namespace disk_handler {

namespace {

// The disk of the session's user: an opened session of a user (not an administrator) with
// an entry; null with the error otherwise.
const db::DiskEntry* user_disk(transfer_session_safe& session, Database& database,
                               bool admin_refused, std::error_code& ec) {
    if (!session.is_opened()) {
        ec = ztctl_error::session_not_open_or_unsafe;
        return nullptr;
    }
    if (admin_refused && session.is_admin()) {
        ec = ztctl_error::admin_has_no_disk;
        return nullptr;
    }
    // An administrator session's id may equal a user's: it never reaches that user's disk.
    const db::UserEntry* user =
        session.is_user() ? database.select_user_entry(session.user_id()) : nullptr;
    if (user == nullptr) {
        ec = database_error::user_not_found;
        return nullptr;
    }
    return &user->disk();
}

bool created(const db::DiskEntry& disk) {
    return disk.get_status() != DiskStateInfo::none;
}

}  // namespace

void get_status(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to obtain disk status: %s"));
    if (const auto* disk = user_disk(session, database, true, guard.ec)) {
        guard.reply = reply_builder(reply_status_code::success,
                                    cast::to_vector(static_cast<int>(disk->get_status())))
                          .obtain();
    }
}

void get_ready(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to check disk status: %s"));
    if (const auto* disk = user_disk(session, database, true, guard.ec)) {
        if (!created(*disk)) {
            guard.ec = ztctl_error::disk_not_created;
            return;
        }
        guard.reply = reply_builder::resp_true();
    }
}

void check(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to check disk: %s"));
    if (const auto* disk = user_disk(session, database, true, guard.ec)) {
        guard.reply = created(*disk) ? reply_builder::resp_true() : reply_builder::resp_false();
    }
}

void is_exist_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to check uuid: %s"));
    const auto* disk = user_disk(session, database, false, guard.ec);
    if (disk == nullptr) {
        return;
    }
    if (disk->guid().is_null()) {
        guard.reply = reply_builder::resp_false();
        return;
    }
    const auto body = session.protocol().context()->receive(guard.ec);
    if (guard.ec) {
        return;
    }
    if (body.empty()) {
        // A question without its UUID has no answer; an empty reply would read as none.
        guard.ec = ztctl_error::invalid_request_format;
        return;
    }
    DiskControl control;
    control.deserialize(body);
    guard.reply = misc::is_uuid_equal(disk->guid(), control.uuid) ? reply_builder::resp_true()
                                                                  : reply_builder::resp_false();
}

}  // namespace disk_handler
