// The disk commands: disk create, and the questions about a disk (status, ready, created,
// has-uuid).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>

#include "client/client_error.h"
#include "client/ztctl/account_records.h"
#include "client/ztctl/command_support.h"
#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "foundation/i18n.h"
#include "handlers/disk.h"
#include "handlers/disk_control.h"

namespace ztctl::detail {

namespace {

namespace disk_iface = dbus_iface::system::disk_manage;
using namespace std::chrono_literals;

// How long "Create" may take when --timeout does not say: the service reserves the space and
// formats the disk before it answers.
constexpr int kCreateTimeoutMs = 60 * 60 * 1000;

// How often the elapsed-time line is redrawn.
constexpr auto kRedraw = 200ms;

// Runs call and returns its result. When show is set, call runs on a worker thread while
// standard error (a terminal) shows label and the seconds elapsed, redrawn every 0.2 s and
// cleared at the end; otherwise it runs here.
template <typename F>
bool with_elapsed_line(bool show, const std::string& label, F&& call) {
    if (!show) {
        return call();
    }
    const auto start = std::chrono::steady_clock::now();
    std::future<bool> done = std::async(std::launch::async, std::forward<F>(call));
    while (done.wait_for(kRedraw) != std::future_status::ready) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        std::fprintf(stderr, "\r%s %.1f s", label.c_str(), elapsed.count());
        std::fflush(stderr);
    }
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    return done.get();
}

nlohmann::ordered_json disk_json(const EntryInfo& info) {
    const bool disk = info.extended && info.ext;
    nlohmann::ordered_json out = {
        {"user", info.name},
        {"state", disk_state_name(disk ? info.ext.status : DiskStateInfo::none)}};
    if (disk) {
        out["uuid"] = info.ext.uuid;
        out["path"] = info.ext.path;
        out["size"] = info.ext.size;
        out["created"] = info.ext.creation_time;
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> disk_rows(const EntryInfo& info) {
    const bool disk = info.extended && info.ext;
    std::vector<std::pair<std::string, std::string>> rows{
        {_("user"), printable(info.name)},
        {_("disk"), disk_state_name(disk ? info.ext.status : DiskStateInfo::none)}};
    if (disk) {
        rows.insert(rows.end(), {{_("uuid"), printable(info.ext.uuid)},
                                 {_("path"), printable(info.ext.path)},
                                 {_("size"), format_size(info.ext.size)},
                                 {_("created"), format_time(info.ext.creation_time)}});
    }
    return rows;
}

// The disk of another user, as the administrator's list shows it.
result status_of_user(const invocation& what, const prompts& ask,
                      const client::session_options& options) {
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_secure(s, what, ask, failure) ||
        !request(s, what, dbus_iface::system::status::get_list(), {}, reply, failure)) {
        return failure;
    }
    close_quietly(s);
    std::vector<EntryInfo> users;
    std::vector<EntryInfo> admins;
    if (!decode_account_lists(reply.payload, users, admins)) {
        return failed(what, stage::request, client_error::bad_reply, false);
    }
    const auto found = std::find_if(users.begin(), users.end(),
                                    [&](const EntryInfo& user) { return user.name == what.name; });
    if (found == users.end()) {
        return failed(what, stage::request, database_error::user_not_found, false);
    }
    result r = succeeded(what);
    r.fields = disk_json(*found);
    r.text = aligned(disk_rows(*found));
    return r;
}

}  // namespace

result disk_create(const invocation& what, const prompts& ask,
                   const client::session_options& options) {
    client::session_options patient = options;
    if (patient.timeout_ms < 0) {
        patient.timeout_ms = kCreateTimeoutMs;
    }
    client::session s(patient);
    result failure;
    if (!open_secure(s, what, ask, failure)) {
        return failure;
    }
    const bytes body = Container::Disk(what.name, what.path, what.fs, what.size).serialize();
    client::service_reply reply;
    std::error_code ec;
    const bool show = !what.global.quiet && ::isatty(STDERR_FILENO) == 1;
    const bool answered =
        with_elapsed_line(show, std::string(_("Creating the disk of")) + " " + what.name + ":",
                          [&] { return s.call(disk_iface::admin::create(), body, reply, ec); });
    if (!answered) {
        return failed(what, stage::request, ec, false);
    }
    close_quietly(s);
    if ((ec = reply.error())) {
        return failed(what, stage::request, ec, true);
    }
    result r = succeeded(what);
    r.fields = {{"user", what.name}, {"path", what.path}, {"size", what.size}, {"fs", what.fs}};
    r.text = aligned({{_("user"), what.name},
                      {_("path"), printable(what.path)},
                      {_("size"), format_size(what.size)},
                      {_("fs"), what.fs}});
    return r;
}

// A user's session is never closed here: closing it takes the user's disk down, which a
// question about the disk must not do. The service forgets the session with the connection.
result disk_status(const invocation& what, const prompts& ask,
                   const client::session_options& options) {
    if (!what.name.empty()) {
        return status_of_user(what, ask, options);
    }
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_secure(s, what, ask, failure) ||
        !request(s, what, disk_iface::user::get_status(), {}, reply, failure)) {
        return failure;
    }
    // The status as a 4-byte little-endian number, one of the four states.
    if (reply.payload.size() != 4 || reply.payload[1] != 0 || reply.payload[2] != 0 ||
        reply.payload[3] != 0 || reply.payload[0] > static_cast<int>(DiskStateInfo::unmounted)) {
        return failed(what, stage::request, client_error::bad_reply, false);
    }
    const auto state = static_cast<DiskStateInfo>(reply.payload[0]);
    result r = succeeded(what);
    r.fields = {{"user", account_of(what)}, {"state", disk_state_name(state)}};
    r.text = aligned({{_("user"), account_of(what)}, {_("disk"), disk_state_name(state)}});
    return r;
}

result disk_question(const invocation& what, const prompts& ask,
                     const client::session_options& options) {
    client::session s(options);
    result failure;
    if (!open_secure(s, what, ask, failure)) {
        return failure;
    }
    std::error_code ec;
    client::service_reply reply;
    bool answered = false;
    std::string key;
    switch (what.command) {
        case command::disk_ready:
            key = "ready";
            answered = s.call(disk_iface::user::get_ready(), {}, reply, ec);
            break;
        case command::disk_created:
            key = "created";
            answered = s.call(disk_iface::user::is_created(), {}, reply, ec);
            break;
        default:
            key = "has_uuid";
            answered = s.call(disk_iface::user::is_exist_uuid(), DiskControl(what.uuid).serialize(),
                              reply, ec);
            break;
    }
    if (!answered) {
        return failed(what, stage::request, ec, false);
    }
    bool yes = false;
    if ((ec = reply.error())) {
        // "Not ready" comes as the error that the disk is not created.
        if (what.command != command::disk_ready || ec != ztctl_error::disk_not_created) {
            return failed(what, stage::request, ec, true);
        }
    } else if (reply.status == client::kReplyTrue || reply.status == client::kReplyFalse) {
        yes = reply.is_true();
    } else {
        return failed(what, stage::request, client_error::unexpected_answer, false);
    }
    result r = succeeded(what);
    // Like "systemctl is-active": the answer is the exit status too.
    r.status = yes ? kExitSuccess : kExitRefused;
    r.fields = {{"user", account_of(what)}};
    if (what.command == command::disk_has_uuid) {
        r.fields["uuid"] = what.uuid;
    }
    r.fields[key] = yes;
    r.text = std::string(yes ? _("yes") : _("no")) + "\n";
    return r;
}

}  // namespace ztctl::detail
