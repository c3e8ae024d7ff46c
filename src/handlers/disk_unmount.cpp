#include "handlers/disk_unmount.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "foundation/i18n.h"
#include "handlers/disk_control.h"
#include "handlers/disk_release.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/misc.h"
#include "system/mount.h"

namespace disk_handler {

namespace {

void unmount_disk(db::UserEntry& user, std::error_code& ec) {
    auto& disk = user.disk();
    if (!disk.state().is_mounted()) {
        ec = ztctl_error::disk_unmounted;
        return;
    }
    if (disk.get_mount_directory().empty()) {
        ec = ztctl_error::unmount_failure;
        return;
    }
    const int result = sys::unmount(disk.get_mount_directory());
    if (result != 0) {
        ec = result < 0 ? std::error_code(ztctl_error::unmount_failure)
                        : std::error_code(result, std::generic_category());
        return;
    }
    release_disk(user, false, ec);
}

}  // namespace

void unmount(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to unmount the disk: %s"));
    if (!session.is_opened()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    if (db::UserEntry* user = session_user(session, database, guard.ec)) {
        unmount_disk(*user, guard.ec);
    }
}

void unmount_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to unmount the disk: %s"));
    std::error_code& ec = guard.ec;
    if (!session.is_opened()) {
        ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    db::UserEntry* user = session_user(session, database, ec);
    if (user == nullptr ||
        !misc::check_disk_paths(user->disk().get_path(), user->disk().get_mount_directory(), ec)) {
        return;
    }
    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        return;
    }
    if (body.empty()) {
        ec = ztctl_error::invalid_request_format;
        return;
    }
    DiskControl control;
    control.deserialize(body);
    if (!misc::is_uuid_equal(user->disk().guid(), control.uuid)) {
        ec = database_error::uuid_not_found;
        return;
    }
    unmount_disk(*user, ec);
}

}  // namespace disk_handler
