#include "handlers/disk_unmount.h"

#include "daemon/ztctl_error.h"

#include "foundation/i18n.h"
#include "handlers/disk_release.h"
#include "handlers/respond.h"
#include "system/mount.h"

namespace disk_handler {

namespace {

void unmount_disk(db::UserEntry& user, std::error_code& ec) {
    const auto& disk = user.disk();
    if (!check_mounted(disk, ec)) {
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
    if (db::UserEntry* user = opened_user(session, database, guard.ec)) {
        unmount_disk(*user, guard.ec);
    }
}

void unmount_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to unmount the disk: %s"));
    if (db::UserEntry* user = user_of_named_disk(session, database, guard.ec)) {
        unmount_disk(*user, guard.ec);
    }
}

}  // namespace disk_handler
