#include "handlers/disk_create.h"

#include <ctime>
#include <string>
#include <vector>

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "handlers/container.h"
#include "handlers/disk.h"
#include "handlers/disk_release.h"
#include "handlers/log_subject.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/createfile.h"
#include "system/cryx_device.h"
#include "system/disk_devices.h"
#include "system/file_ops.h"
#include "system/loop_device.h"
#include "system/misc.h"
#include "system/mkfs.h"
#include "system/wipe.h"

namespace disk_handler {

namespace {

// Formats the container at path through a loop device and a driver device keyed with key,
// and releases both (driver device first, loop device second) whatever happens; the first
// error is kept.
bool format(const std::string& path, const std::string& fs, const std::vector<unsigned char>& key,
            std::error_code& ec) {
    sys::LoopDevice loop;
    cryx_device driver;
    bool formatted =
        sys::LoopDevice::get_free(loop, ec) && loop.set_backing_file(path, ec) && loop.setup(ec);
    if (formatted) {
        driver.set_managed_device(loop.get_device_name());
        formatted = driver.set_keys(key, key);
        if (!formatted) {
            ec = database_error::corrupted;  // a stored disk key that is not 32 bytes
        }
    }
    formatted = formatted && driver.add(ec) && sys::mkfs(driver.get_device_name(), fs, ec);
    std::error_code release;
    if (!sys::release_devices(driver, loop, release) && !ec) {
        ec = release;
    }
    return formatted && !ec;
}

}  // namespace

void create(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to create a disk: %s"));
    std::error_code& ec = guard.ec;
    if (!session.is_opened() || !session.is_accessed()) {
        ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    if (!driver_ready(ec)) {
        return;
    }
    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        return;
    }
    Container::Disk request;
    request.deserialize(body);
    db::UserEntry* user = database.select_user_entry(request.user_name);
    if (user == nullptr) {
        ec = database_error::user_not_found;
        return;
    }
    handler_log::log_subject(*user);
    if (!user->disk().guid().is_null()) {
        ec = ztctl_error::disk_already_created;
        return;
    }
    if (!sys::check_support_fs(request.fs)) {
        ec = ztctl_error::filesystem_not_supported;
        return;
    }
    // The daemon creates the file as root: only where no other user could swap it.
    if (!misc::check_container_path(request.path, ec)) {
        return;
    }
    if (!os::create_file(request.path, static_cast<off_t>(request.size), ec)) {
        return;
    }
    const auto container = foundation::make_deferred([&] {
        if (ec) {
            os::remove(request.path);
        }
    });

    auto extracted = Container::extract_key(database.crypto_service().get_factory(),
                                            database.crypto_service().get_cipher(),
                                            user->get_symmetric_material(), ec);
    auto& key = extracted.first;
    auto& material = extracted.second;
    const auto wipe_key = foundation::make_deferred([&key] { util::wipe(key); });
    if (ec) {
        return;
    }
    if (key.empty() || material.empty()) {
        ec = database_error::corrupted;  // a key store without a disk key cannot make a disk
        return;
    }
    if (!format(request.path, request.fs, key, ec)) {
        return;
    }
    if (!os::set_owner(request.path, request.user_name, ec)) {
        return;
    }
    os::set_mode(request.path, 0600);

    // The record changes only together with the saved file: if the backup or the save
    // fails, the entry goes back to what it was and the container is removed.
    const db::DiskEntry previous_disk = user->disk();
    std::vector<unsigned char> previous_material = user->get_symmetric_material();
    const auto forget_previous =
        foundation::make_deferred([&previous_material] { util::wipe(previous_material); });
    auto& disk = user->disk();
    disk.set_status(DiskStateInfo::created);
    disk.guid().generate();
    handler_log::log_subject(*user);
    disk.set_size(request.size);
    disk.set_path(request.path);
    disk.set_fs(request.fs);
    disk.set_mount_directory(misc::build_mount_dir(request.user_name));
    disk.set_creation_time(static_cast<std::int64_t>(std::time(nullptr)));
    user->set_symmetric_material(std::move(material));
    if (database.backup(ec) && database.save(ec)) {
        return;
    }
    user->disk() = previous_disk;
    user->set_symmetric_material(std::move(previous_material));
}

}  // namespace disk_handler
