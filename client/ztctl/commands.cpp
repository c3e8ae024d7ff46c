#include "client/ztctl/commands.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <optional>

#include "client/client_error.h"
#include "client/service_keys.h"
#include "client/ztctl/account_records.h"
#include "client/ztctl/command_support.h"
#include "client/ztctl/exit_status.h"
#include "client/ztctl/password_input.h"
#include "foundation/i18n.h"

namespace ztctl {

namespace {

using namespace detail;
using clock = std::chrono::steady_clock;
using bytes = std::vector<unsigned char>;

double milliseconds_since(clock::time_point start) {
    const std::chrono::duration<double, std::milli> elapsed = clock::now() - start;
    return std::round(elapsed.count() * 1000.0) / 1000.0;
}

std::string format_ms(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

std::string base64(const bytes& data) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(data[i]) << 16;
        if (n > 1) {
            group |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        }
        if (n > 2) {
            group |= data[i + 2];
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

// The key as PEM text, which `openssl pkey -pubin` reads.
std::string pem(const bytes& der) {
    const std::string body = base64(der);
    std::string text = "-----BEGIN PUBLIC KEY-----\n";
    for (std::size_t i = 0; i < body.size(); i += 64) {
        text += body.substr(i, 64) + "\n";
    }
    return text + "-----END PUBLIC KEY-----\n";
}

client::session_options options_for(const invocation& what, client::session_options options) {
    options.timeout_ms = what.global.timeout_ms;
    if (what.authenticated) {
        options.sequence = client::handshake_sequence::authenticated;
    }
    return options;
}

result ping(const invocation& what, const prompts& ask, const client::session_options& options) {
    client::session s(options);
    std::error_code ec;
    const auto start = clock::now();
    if (!s.connect(ec)) {
        return failed(what, stage::setup, ec, false);
    }
    const double connect_ms = milliseconds_since(start);
    std::wstring password;
    if (!ask.password(account_of(what), password, ec)) {
        return failed(what, stage::setup, ec, false);
    }
    auto mark = clock::now();
    const bool opened = s.open_secure(account_of(what), password, ec);
    wipe(password);
    if (!opened) {
        return failed(what, stage::setup, ec, false);
    }
    const double handshake_ms = milliseconds_since(mark);
    // One request proves that both sides hold the same session key; its answer tells an
    // administrator's account from a user's.
    mark = clock::now();
    client::service_reply reply;
    if (!s.call(dbus_iface::system::status::get_info(), {}, reply, ec)) {
        return failed(what, stage::request, ec, false);
    }
    if ((ec = reply.error())) {
        return failed(what, stage::request, ec, true);
    }
    const double request_ms = milliseconds_since(mark);
    EntryInfo info;
    if (!decode_info(reply.payload, info)) {
        return failed(what, stage::request, client_error::bad_reply, false);
    }
    // Closing a user's session takes the user's disk down and ends what uses it: a ping
    // must not, so only an administrator's session is closed.
    std::optional<double> close_ms;
    if (info.type == entry_type::admin) {
        mark = clock::now();
        if (!s.close(ec)) {
            return failed(what, stage::request, ec, false);
        }
        close_ms = milliseconds_since(mark);
    }

    result r;
    r.command = command_name(what.command);
    const std::string sequence = what.authenticated ? "authenticated" : "plain";
    r.fields = {{"account", account_of(what)},
                {"sequence", sequence},
                {"milliseconds",
                 {{"connect", connect_ms},
                  {"handshake", handshake_ms},
                  {"request", request_ms},
                  {"close", close_ms ? nlohmann::json(*close_ms) : nlohmann::json()}}}};
    r.text = aligned({{_("account"), account_of(what)},
                      {_("sequence"), sequence},
                      {_("connect"), format_ms(connect_ms)},
                      {_("handshake"), format_ms(handshake_ms)},
                      {_("request"), format_ms(request_ms)},
                      {_("close"), close_ms ? format_ms(*close_ms)
                                            : _("not sent (it would take the disk down)")}});
    return r;
}

result public_key(const invocation& what, const client::session_options& options) {
    // The key is public: a clear session serves it, no account is needed.
    client::session s(options);
    result failure;
    bytes key;
    bool pinned = false;
    if (!open_clear(s, what, failure) ||
        !service_public_key(s, what, options, key, pinned, failure)) {
        return failure;
    }
    close_quietly(s);
    result r = succeeded(what);
    r.fields = {{"public_key", base64(key)}, {"pinned", pinned}};
    r.text = pem(key);
    return r;
}

// "Stop" or "Deinit": the service goes away once it has answered, so the session is not
// closed after a success.
result stop(const invocation& what, const prompts& ask, const client::session_options& options) {
    const bool deinit = what.command == command::service_deinit;
    if (deinit && !what.yes &&
        !ask.confirm(_("Remove the service's files (service.bin, database.bin) and stop it?"))) {
        return failed(what, stage::setup, std::make_error_code(std::errc::operation_canceled),
                      false);
    }
    client::session s(options);
    result failure;
    if (!open_secure(s, what, ask, failure)) {
        return failure;
    }
    std::error_code ec;
    client::service_reply reply;
    const bool answered = deinit ? s.call(dbus_iface::system::applied::deinit(), {}, reply, ec)
                                 : s.call(dbus_iface::system::control::stop(), {}, reply, ec);
    if (!answered) {
        return failed(what, stage::request, ec, false);
    }
    if ((ec = reply.error())) {
        std::error_code ignored;
        s.close(ignored);
        return failed(what, stage::request, ec, true);
    }
    result r;
    r.command = command_name(what.command);
    r.text = deinit ? std::string(_("The service's files are removed; the service stops.")) + "\n"
                    : std::string(_("The service stops.")) + "\n";
    return r;
}

}  // namespace

std::string login_name() {
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : std::string();
}

result run(const invocation& what, const prompts& ask, const client::session_options& base) {
    const client::session_options options = options_for(what, base);
    switch (what.command) {
        case command::ping:
            return ping(what, ask, options);
        case command::status:
            return detail::status(what, ask, options);
        case command::keystore_create:
            return keystore_create(what, ask, options);
        case command::user_add:
            return user_add(what, ask, options);
        case command::user_remove:
            return user_remove(what, ask, options);
        case command::user_list:
            return user_list(what, ask, options);
        case command::user_show:
            return user_show(what, options);
        case command::user_registered:
            return user_registered(what, options);
        case command::admin_list:
            return admin_list(what, ask, options);
        case command::service_public_key:
            return public_key(what, options);
        case command::service_stop:
        case command::service_deinit:
            return stop(what, ask, options);
        case command::disk_create:
            return disk_create(what, ask, options);
        case command::disk_status:
            return disk_status(what, ask, options);
        case command::disk_ready:
        case command::disk_created:
        case command::disk_has_uuid:
            return disk_question(what, ask, options);
        case command::mount:
            return detail::mount(what, ask, options);
        case command::unmount:
            return detail::unmount(what, ask, options);
    }
    return detail::failed(what, stage::setup, client_error::no_session, false);
}

}  // namespace ztctl
