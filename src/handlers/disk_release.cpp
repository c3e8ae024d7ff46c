#include "handlers/disk_release.h"

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "handlers/disk_control.h"
#include "handlers/log_subject.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/cryx_device.h"
#include "system/kmodule.h"
#include "system/loop_device.h"
#include "system/misc.h"

namespace disk_handler {

bool driver_ready(std::error_code& ec) {
    KernelModule module("cryx");
    module.parse(ec);
    if (ec) {
        return false;
    }
    if (!module.loaded()) {
        ec = ztctl_error::kernel_module_not_loaded;
        return false;
    }
    return true;
}

db::UserEntry* session_user(const transfer_session_safe& session, Database& database,
                            std::error_code& ec) {
    if (!session.is_user()) {
        ec = ztctl_error::admin_has_no_disk;
        return nullptr;
    }
    db::UserEntry* user = database.select_user_entry(session.user_id());
    if (user == nullptr) {
        ec = database_error::user_not_found;
    } else {
        handler_log::log_subject(*user);
    }
    return user;
}

db::UserEntry* opened_user(const transfer_session_safe& session, Database& database,
                           std::error_code& ec) {
    if (!session.is_opened()) {
        ec = ztctl_error::session_not_open_or_unsafe;
        return nullptr;
    }
    return session_user(session, database, ec);
}

db::UserEntry* user_of_named_disk(transfer_session_safe& session, Database& database,
                                  std::error_code& ec) {
    db::UserEntry* user = opened_user(session, database, ec);
    if (user == nullptr ||
        !misc::check_disk_paths(user->disk().get_path(), user->disk().get_mount_directory(), ec)) {
        return nullptr;
    }
    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        return nullptr;
    }
    if (body.empty()) {
        ec = ztctl_error::invalid_request_format;
        return nullptr;
    }
    DiskControl control;
    control.deserialize(body);
    if (!misc::is_uuid_equal(user->disk().guid(), control.uuid)) {
        ec = database_error::uuid_not_found;
        return nullptr;
    }
    return user;
}

bool check_mounted(const db::DiskEntry& disk, std::error_code& ec) {
    if (!disk.state().is_mounted()) {
        ec = ztctl_error::disk_unmounted;
        return false;
    }
    if (disk.get_mount_directory().empty()) {
        ec = ztctl_error::unmount_failure;
        return false;
    }
    return true;
}

bool release_disk(db::UserEntry& user, bool strict, std::error_code& ec) {
    auto& disk = user.disk();
    auto& state = disk.state();
    state.set_mount(false);
    disk.set_status(DiskStateInfo::unmounted);
    std::error_code teardown;
    if (!state.get_cryx_device_name().empty()) {
        cryx_device driver;
        if (driver.set_device_name(state.get_cryx_device_name())) {
            driver.remove(teardown);
        }
        state.set_cryx_device_name({});
    }
    if (!state.get_loop_device_name().empty()) {
        sys::LoopDevice loop;
        std::error_code restored;
        if (!loop.restore(state.get_loop_device_name(), restored)) {
            ec = restored;
            return false;
        }
        std::error_code dropped;
        loop.drop(dropped);
        if (!teardown) {
            teardown = dropped;
        }
        state.set_loop_device_name({});
    }
    if (strict && teardown) {
        ec = teardown;
        return false;
    }
    ec.clear();
    return true;
}

}  // namespace disk_handler
