// The account commands: status, user add|remove|list|show|registered, admin list.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "client/client_error.h"
#include "client/keystore.h"
#include "client/ztctl/account_records.h"
#include "client/ztctl/command_support.h"
#include "foundation/i18n.h"
#include "handlers/profile.h"
#include "system/wipe.h"

namespace ztctl::detail {

namespace {

namespace iface = dbus_iface::system;

bytes raw(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string role_text(entry_type type) {
    return type == entry_type::admin ? _("administrator") : _("user");
}

nlohmann::ordered_json entry_json(const EntryInfo& entry) {
    return {{"name", entry.name}, {"id", entry.id}, {"created", entry.creation_time}};
}

// The accounts as a table of name, id and creation time, or the line for none.
std::string entry_table(const std::vector<EntryInfo>& entries, const std::string& none) {
    if (entries.empty()) {
        return none + "\n";
    }
    std::vector<std::vector<std::string>> rows{{_("NAME"), _("ID"), _("CREATED")}};
    for (const EntryInfo& entry : entries) {
        rows.push_back(
            {printable(entry.name), std::to_string(entry.id), format_time(entry.creation_time)});
    }
    return columns(rows);
}

// The key store file that user add names, as the absolute path the service reads. Links
// are refused (the service refuses them too, and the path is not resolved here: the file
// read must be the one named), and so is anything but a regular file.
bool keystore_path(const std::string& given, std::string& out, std::error_code& ec) {
    std::filesystem::path path(given);
    if (path.is_relative()) {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            ec = {errno, std::generic_category()};
            return false;
        }
        path = std::filesystem::path(cwd) / path;
    }
    path = path.lexically_normal();
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        ec = {errno, std::generic_category()};
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        ec = std::make_error_code(S_ISLNK(info.st_mode)   ? std::errc::too_many_symbolic_link_levels
                                  : S_ISDIR(info.st_mode) ? std::errc::is_a_directory
                                                          : std::errc::invalid_argument);
        return false;
    }
    out = path.string();
    ec.clear();
    return true;
}

// Removes a key store this command wrote, and its directory, however the command ends (after
// a registration the service has removed the file already).
class written_keystore {
  public:
    written_keystore() = default;
    ~written_keystore() {
        if (!path.empty()) {
            client::remove_keystore_file(path);
        }
    }
    written_keystore(const written_keystore&) = delete;
    written_keystore& operator=(const written_keystore&) = delete;

    std::string path;
};

// The lists of accounts that an administrator's session reads.
bool read_lists(const invocation& what, const prompts& ask, const client::session_options& options,
                bool admins_only, std::vector<EntryInfo>& out, result& failure) {
    client::session s(options);
    client::service_reply reply;
    if (!open_secure(s, what, ask, failure) ||
        !(admins_only ? request(s, what, iface::status::get_admin_list(), {}, reply, failure)
                      : request(s, what, iface::status::get_list(), {}, reply, failure))) {
        return false;
    }
    close_quietly(s);
    std::vector<EntryInfo> admins;
    const bool decoded = admins_only ? decode_info_list(reply.payload, out)
                                     : decode_account_lists(reply.payload, out, admins);
    if (!decoded) {
        failure = failed(what, stage::request, client_error::bad_reply, false);
    }
    return decoded;
}

}  // namespace

result status(const invocation& what, const prompts& ask, const client::session_options& options) {
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_secure(s, what, ask, failure) ||
        !request(s, what, iface::status::get_info(), {}, reply, failure)) {
        return failure;
    }
    EntryInfo info;
    if (!decode_info(reply.payload, info)) {
        return failed(what, stage::request, client_error::bad_reply, false);
    }
    // Closing a user's session takes the user's disk down, so a question about it must not;
    // an administrator's session has no disk and is closed.
    if (info.type == entry_type::admin) {
        close_quietly(s);
    }
    const bool disk = info.extended && info.ext;
    const DiskStateInfo state = disk ? info.ext.status : DiskStateInfo::none;
    nlohmann::ordered_json disk_json = {{"state", disk_state_name(state)}};
    std::vector<std::pair<std::string, std::string>> rows{{_("account"), printable(info.name)},
                                                          {_("role"), role_text(info.type)},
                                                          {_("id"), std::to_string(info.id)},
                                                          {_("disk"), disk_state_name(state)}};
    if (disk) {
        disk_json["uuid"] = info.ext.uuid;
        disk_json["path"] = info.ext.path;
        disk_json["size"] = info.ext.size;
        disk_json["created"] = info.ext.creation_time;
        rows.insert(rows.end(), {{_("uuid"), printable(info.ext.uuid)},
                                 {_("path"), printable(info.ext.path)},
                                 {_("size"), format_size(info.ext.size)}});
    }
    result r = succeeded(what);
    r.fields = {{"account", info.name},
                {"role", role_name(info.type)},
                {"id", info.id},
                {"created", info.creation_time},
                {"disk", disk_json}};
    r.text = aligned(rows);
    return r;
}

result user_add(const invocation& what, const prompts& ask,
                const client::session_options& options) {
    std::error_code ec;
    std::string path;
    if (!what.keystore_file.empty() && !keystore_path(what.keystore_file, path, ec)) {
        return failed(what, stage::request, ec, false);
    }
    client::session s(options);
    result failure;
    if (!open_secure(s, what, ask, failure)) {
        return failure;
    }
    written_keystore written;
    if (path.empty()) {
        bytes file;
        if (!make_keystore(s, what, ask, options, what.name, file, failure)) {
            close_quietly(s);
            return failure;
        }
        const bool stored = client::write_keystore_file(file, written.path, ec);
        util::wipe(file);
        if (!stored) {
            close_quietly(s);
            return failed(what, stage::request, ec, false);
        }
        path = written.path;
    }
    client::service_reply reply;
    const bool added = request(s, what, iface::user_manage::admin::add(),
                               Container::Profile{what.name, path}.serialize(), reply, failure);
    close_quietly(s);
    if (!added) {
        return failure;
    }
    result r = succeeded(what);
    r.fields = {{"name", what.name}, {"keystore", what.keystore_file.empty() ? "made" : "given"}};
    r.text = std::string(_("Registered user")) + " " + what.name + "\n";
    return r;
}

result user_remove(const invocation& what, const prompts& ask,
                   const client::session_options& options) {
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_secure(s, what, ask, failure) ||
        !request(s, what, iface::user_manage::admin::remove(),
                 Container::Profile{what.name, {}}.serialize(), reply, failure)) {
        return failure;
    }
    close_quietly(s);
    result r = succeeded(what);
    r.fields = {{"name", what.name}};
    r.text = std::string(_("Removed user")) + " " + what.name + "\n";
    return r;
}

result user_list(const invocation& what, const prompts& ask,
                 const client::session_options& options) {
    std::vector<EntryInfo> users;
    result failure;
    if (!read_lists(what, ask, options, false, users, failure)) {
        return failure;
    }
    result r = succeeded(what);
    r.fields = {{"users", nlohmann::ordered_json::array()}};
    for (const EntryInfo& entry : users) {
        r.fields["users"].push_back(entry_json(entry));
    }
    r.text = entry_table(users, _("No users are registered."));
    return r;
}

result admin_list(const invocation& what, const prompts& ask,
                  const client::session_options& options) {
    std::vector<EntryInfo> admins;
    result failure;
    if (!read_lists(what, ask, options, true, admins, failure)) {
        return failure;
    }
    result r = succeeded(what);
    r.fields = {{"admins", nlohmann::ordered_json::array()}};
    for (const EntryInfo& entry : admins) {
        r.fields["admins"].push_back(entry_json(entry));
    }
    r.text = entry_table(admins, _("There are no administrators."));
    return r;
}

result user_show(const invocation& what, const client::session_options& options) {
    // A profile is no secret: a clear session serves it, no password is needed.
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_clear(s, what, failure) ||
        !request(s, what, iface::status::get_profile(), raw(what.name), reply, failure)) {
        return failure;
    }
    close_quietly(s);
    entry_profile profile;
    if (!decode_profile(reply.payload, profile)) {
        return failed(what, stage::request, client_error::bad_reply, false);
    }
    result r = succeeded(what);
    r.fields = {{"name", profile.name}, {"id", profile.id}, {"role", role_name(profile.type)}};
    r.text = aligned({{_("name"), printable(profile.name)},
                      {_("id"), std::to_string(profile.id)},
                      {_("role"), role_text(profile.type)}});
    return r;
}

result user_registered(const invocation& what, const client::session_options& options) {
    client::session s(options);
    result failure;
    client::service_reply reply;
    if (!open_clear(s, what, failure) ||
        !request(s, what, iface::auth::identify_user(), raw(what.name), reply, failure)) {
        return failure;
    }
    close_quietly(s);
    if (reply.status != client::kReplyTrue && reply.status != client::kReplyFalse) {
        return failed(what, stage::request, client_error::unexpected_answer, false);
    }
    result r = succeeded(what);
    // Like "systemctl is-active": the answer is the exit status too.
    r.status = reply.is_true() ? kExitSuccess : kExitRefused;
    r.fields = {{"name", what.name}, {"registered", reply.is_true()}};
    r.text = std::string(reply.is_true() ? _("yes") : _("no")) + "\n";
    return r;
}

}  // namespace ztctl::detail
