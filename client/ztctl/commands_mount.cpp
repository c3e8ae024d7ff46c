// mount and unmount of the account's own disk.

#include <sys/types.h>

#include <string>
#include <system_error>
#include <vector>

#include "client/disk_key.h"
#include "client/ztctl/command_support.h"
#include "client/ztctl/mount_table.h"
#include "client/ztctl/password_input.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "handlers/disk_control.h"
#include "system/fio.h"
#include "system/getpidlist.h"
#include "system/wipe.h"

namespace ztctl::detail {

namespace {

namespace disk_iface = dbus_iface::system::disk_manage::user;

// Where the service mounts an account's disk.
std::string mount_directory(const std::string& account) {
    return "/zt/" + account;
}

std::string how_text(os::hold how) {
    switch (how) {
        case os::hold::working_directory:
            return _("cwd");
        case os::hold::root:
            return _("root");
        case os::hold::open_file:
            return _("open file");
        case os::hold::mapping:
            return _("mapping");
    }
    return {};
}

// The processes this client can see holding the file system mounted on directory: from the
// mount table of this process, the device mounted there, and the scan of /proc for it.
// Processes whose files this account may not read do not show.
std::vector<os::holder> visible_holders(const std::string& directory, std::error_code& ec) {
    const std::string mounts = fio::read("/proc/self/mounts", ec);
    if (ec) {
        return {};
    }
    const std::string device = mounted_device(mounts, directory);
    if (device.empty()) {
        // Mounted in another mount namespace, or gone meanwhile.
        ec = std::make_error_code(std::errc::no_such_device);
        return {};
    }
    return os::get_pid_list(device, ec);
}

// Adds to a busy unmount's failure what holds the disk, and the way out.
void explain_busy(const invocation& what, result& failure) {
    std::error_code ec;
    const std::vector<os::holder> holders = visible_holders(mount_directory(account_of(what)), ec);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows{{_("PID"), _("USER"), _("COMMAND"), _("HOW")}};
    for (const os::holder& h : holders) {
        const bool known_uid = h.uid != static_cast<uid_t>(-1);
        list.push_back({{"pid", h.pid},
                        {"uid", known_uid ? nlohmann::ordered_json(h.uid) : nullptr},
                        {"user", h.user.empty() ? nullptr : nlohmann::ordered_json(h.user)},
                        {"command", h.command},
                        {"how", os::hold_name(h.how)}});
        rows.push_back({std::to_string(h.pid),
                        !h.user.empty() ? printable(h.user)
                        : known_uid     ? std::to_string(h.uid)
                                        : std::string("?"),
                        h.command, how_text(h.how)});
    }
    failure.fields = {{"holders", list}};
    if (ec) {
        failure.fields["holders_error"] = {
            {"message", ec.message()}, {"category", ec.category().name()}, {"value", ec.value()}};
    }
    std::string text;
    if (!holders.empty()) {
        text = std::string(_("The disk is in use by:")) + "\n" + columns(rows);
    } else if (ec) {
        text = std::string(_("The processes that use the disk cannot be listed:")) + " " +
               ec.message() + "\n";
    } else {
        text = std::string(_("No process that uses the disk can be seen from here.")) + "\n";
    }
    const std::string force =
        "ztctl unmount --force" + (what.uuid.empty() ? std::string() : " --uuid " + what.uuid);
    failure.text = text + _("To end them and unmount the disk, run:") + " " + force + "\n";
}

}  // namespace

// The session stays open after a mount, and after a failed unmount: closing a user's session
// takes the user's disk down. The service forgets the session with the connection.
result mount(const invocation& what, const prompts& ask, const client::session_options& options) {
    client::session s(options);
    result failure;
    std::wstring password;
    const auto forget_password = foundation::make_deferred([&password] { wipe(password); });
    if (!open_secure(s, what, ask, password, failure)) {
        return failure;
    }
    std::error_code ec;
    bool from_service = false;
    const RawMemoryDefault key =
        client::fetch_disk_key(s, options, account_of(what), password, ec, from_service);
    wipe(password);
    if (ec) {
        return failed(what, stage::request, ec, from_service);
    }
    bytes body;
    const auto forget_body = foundation::make_deferred([&body] { util::wipe(body); });
    if (what.uuid.empty()) {
        body.assign(key.data(), key.data() + key.size());
    } else {
        DiskControl control(what.uuid);
        control.data.assign(key.data(), key.data() + key.size());
        body = control.serialize();
    }
    client::service_reply reply;
    const bool mounted = what.uuid.empty()
                             ? request(s, what, disk_iface::mount(), body, reply, failure)
                             : request(s, what, disk_iface::mount_uuid(), body, reply, failure);
    if (!mounted) {
        return failure;
    }
    const std::string directory = mount_directory(account_of(what));
    result r = succeeded(what);
    r.fields = {{"user", account_of(what)}, {"mount_directory", directory}};
    if (!what.uuid.empty()) {
        r.fields["uuid"] = what.uuid;
    }
    r.text = std::string(_("The disk is mounted on")) + " " + printable(directory) + "\n";
    return r;
}

result unmount(const invocation& what, const prompts& ask, const client::session_options& options) {
    client::session s(options);
    result failure;
    if (!open_secure(s, what, ask, failure)) {
        return failure;
    }
    const bytes body = what.uuid.empty() ? bytes() : DiskControl(what.uuid).serialize();
    client::service_reply reply;
    bool done = false;
    if (what.force) {
        done = what.uuid.empty()
                   ? request(s, what, disk_iface::force_unmount(), body, reply, failure)
                   : request(s, what, disk_iface::force_unmount_uuid(), body, reply, failure);
    } else {
        done = what.uuid.empty()
                   ? request(s, what, disk_iface::unmount(), body, reply, failure)
                   : request(s, what, disk_iface::unmount_uuid(), body, reply, failure);
    }
    if (!done) {
        if (!what.force && failure.error == std::errc::device_or_resource_busy) {
            explain_busy(what, failure);
        }
        return failure;
    }
    // The disk is down: closing the session now only closes it.
    close_quietly(s);
    result r = succeeded(what);
    r.fields = {{"user", account_of(what)},
                {"mount_directory", mount_directory(account_of(what))},
                {"forced", what.force}};
    if (!what.uuid.empty()) {
        r.fields["uuid"] = what.uuid;
    }
    r.text = std::string(_("The disk is unmounted")) + "\n";
    return r;
}

}  // namespace ztctl::detail
