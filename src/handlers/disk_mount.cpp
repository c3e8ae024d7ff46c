#include "handlers/disk_mount.h"

#include <optional>
#include <string>
#include <vector>

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "handlers/disk_control.h"
#include "handlers/disk_release.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/accounts.h"
#include "system/cryx_device.h"
#include "system/disk_devices.h"
#include "system/file_ops.h"
#include "system/loop_device.h"
#include "system/misc.h"
#include "system/mount.h"
#include "system/wipe.h"

namespace disk_handler {

namespace {

// Sets up the devices of user's disk with key and mounts it. On any failure the devices
// this request set up are released again (driver device first, loop device second).
void mount_with_key(db::UserEntry& user, const std::vector<unsigned char>& key,
                    std::error_code& ec) {
    auto& disk = user.disk();
    uid_t uid = 0;
    gid_t gid = 0;
    // Only the real directory registration made, never a link planted in its place.
    if (!os::find_user_id(user.get_name(), uid, gid, ec) ||
        !misc::check_mount_directory(disk.get_mount_directory(), uid, ec)) {
        ec = ztctl_error::mount_directory_not_exist;
        return;
    }
    if (disk.state().is_mounted()) {
        ec = ztctl_error::disk_already_mounted;
        return;
    }
    sys::LoopDevice loop;
    cryx_device driver;
    bool ready = sys::LoopDevice::get_free(loop, ec) &&
                 loop.set_backing_file(disk.get_path(), ec) && loop.setup(ec);
    if (ready) {
        driver.set_managed_device(loop.get_device_name());
        // A key of any other length would reach the driver as a request without keys.
        if (!driver.set_keys(key, key)) {
            ec = ztctl_error::invalid_request_format;
            ready = false;
        }
    }
    ready = ready && driver.add(ec);
    if (ready) {
        const int result =
            sys::mount(driver.get_device_name(), disk.get_mount_directory(), disk.get_fs(), false);
        if (result == 0) {
            os::set_owner(disk.get_mount_directory(), user.get_name());
            os::set_mode(disk.get_mount_directory(), 0700);
            disk.state().set_mount(true);
            disk.set_status(DiskStateInfo::mounted);
            disk.state().set_cryx_device_name(driver.get_device_name());
            disk.state().set_loop_device_name(loop.get_device_name());
            return;
        }
        ec = result < 0 ? std::error_code(ztctl_error::mount_failure)
                        : std::error_code(result, std::generic_category());
    }
    std::error_code ignored;
    sys::release_devices(driver, loop, ignored);
}

// The common start of both requests: a secured session, the driver, the user and its disk's
// files. Null with the error otherwise.
db::UserEntry* mountable_user(transfer_session_safe& session, Database& database,
                              std::error_code& ec) {
    if (!session.protocol().is_session_secured()) {
        ec = ztctl_error::mount_request_error;
        return nullptr;
    }
    if (!driver_ready(ec)) {
        return nullptr;
    }
    return session_user(session, database, ec);
}

}  // namespace

void mount(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to mount the disk: %s"));
    std::error_code& ec = guard.ec;
    db::UserEntry* user = mountable_user(session, database, ec);
    if (user == nullptr) {
        return;
    }
    auto key = session.protocol().context()->receive(ec);
    const auto wipe = foundation::make_deferred([&key] { util::wipe(key); });
    if (ec) {
        return;
    }
    if (key.empty()) {
        ec = ztctl_error::invalid_request_format;  // no key, nothing to mount with
        return;
    }
    const auto& disk = user->disk();
    if (disk.get_status() == DiskStateInfo::none) {
        ec = ztctl_error::disk_not_created;
        return;
    }
    if (!misc::check_disk_paths(disk.get_path(), disk.get_mount_directory(), ec)) {
        return;
    }
    mount_with_key(*user, key, ec);
}

void mount_uuid(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to mount the disk: %s"));
    std::error_code& ec = guard.ec;
    db::UserEntry* user = mountable_user(session, database, ec);
    if (user == nullptr) {
        return;
    }
    auto body = session.protocol().context()->receive(ec);
    const auto wipe = foundation::make_deferred([&body] { util::wipe(body); });
    if (ec) {
        return;
    }
    if (body.empty()) {
        ec = ztctl_error::invalid_request_format;
        return;
    }
    DiskControl control;
    control.deserialize(body);
    const auto& disk = user->disk();
    if (!misc::check_disk_paths(disk.get_path(), disk.get_mount_directory(), ec)) {
        return;
    }
    if (!misc::is_uuid_equal(disk.guid(), control.uuid)) {
        ec = database_error::uuid_not_found;
        return;
    }
    mount_with_key(*user, control.data, ec);
}

}  // namespace disk_handler
