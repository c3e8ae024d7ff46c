#include "handlers/disk_force_unmount.h"

#include "daemon/ztctl_error.h"
#include "foundation/i18n.h"
#include "handlers/disk_release.h"
#include "handlers/log_subject.h"
#include "handlers/respond.h"
#include "logging/logger.h"
#include "system/force_unmount.h"

namespace {

// Ends the holders of the mounted disk (each logged) and unmounts it.
bool force_down(const db::DiskEntry& disk, std::error_code& ec) {
    const auto ended =
        sys::force_unmount(disk.state().get_cryx_device_name(), disk.get_mount_directory(), ec);
    if (ended.no_mount_line) {
        ztl::Logger::warning(
            _("No mount of %s is listed: processes are not checked by working directory"),
            disk.state().get_cryx_device_name());
    }
    for (const auto& process : ended.processes) {
        ztl::Logger::info(_("Ended process %s (%s) holding %s"), std::to_string(process.pid),
                          process.command, disk.get_mount_directory());
    }
    return ended.unmounted;
}

}  // namespace

namespace disk_handler {

namespace {

void force_unmount_disk(db::UserEntry& user, std::error_code& ec) {
    const auto& disk = user.disk();
    if (!check_mounted(disk, ec)) {
        return;
    }
    if (!force_down(disk, ec)) {
        if (!ec) {
            ec = ztctl_error::unmount_failure;
        }
        return;
    }
    release_disk(user, false, ec);
}

}  // namespace

void force_unmount(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to unmount the disk: %s"));
    if (db::UserEntry* user = opened_user(session, database, guard.ec)) {
        force_unmount_disk(*user, guard.ec);
    }
}

void force_unmount_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to unmount the disk: %s"));
    if (db::UserEntry* user = user_of_named_disk(session, database, guard.ec)) {
        force_unmount_disk(*user, guard.ec);
    }
}

}  // namespace disk_handler

bool try_force_unmount_user_disk(db::UserEntry& user, std::error_code& ec) {
    ec.clear();
    const auto& disk = user.disk();
    if (!disk.state().is_mounted() || disk.get_mount_directory().empty()) {
        return true;
    }
    std::error_code scan;
    if (!force_down(disk, scan)) {
        ec = scan ? scan : std::error_code(ztctl_error::unmount_failure);
        return false;
    }
    if (!disk_handler::release_disk(user, true, ec)) {
        return false;
    }
    ec = scan;
    return !ec;
}

void stop_session_handler(transfer_session& session, Database& database) {
    if (session.is_opened() && session.is_user()) {
        if (db::UserEntry* user = database.select_user_entry(session.user_id())) {
            handler_log::log_subject(*user);
            std::error_code ec;
            if (!try_force_unmount_user_disk(*user, ec)) {
                ztl::Logger::warning(_("Unable to unmount a disk: %s"), ec.message());
            }
        }
    }
    session.close();
    std::error_code ec;
    if (!session.protocol().close(ec)) {
        ztl::Logger::warning(_("Unable to close a session: %s"), ec.message());
    }
}
