#include "client/ztctl/command_support.h"

#include <ctime>
#include <optional>

#include "client/client_error.h"
#include "client/service_keys.h"
#include "client/ztctl/password_input.h"

namespace ztctl::detail {

result failed(const invocation& what, stage where, const std::error_code& ec, bool from_service) {
    result r;
    r.command = command_name(what.command);
    r.error = ec;
    r.status = exit_status(where, ec, from_service);
    return r;
}

result succeeded(const invocation& what) {
    result r;
    r.command = command_name(what.command);
    return r;
}

std::string account_of(const invocation& what) {
    return what.global.account.empty() ? login_name() : what.global.account;
}

bool open_secure(client::session& s, const invocation& what, const prompts& ask, result& failure) {
    std::wstring password;
    const bool opened = open_secure(s, what, ask, password, failure);
    wipe(password);
    return opened;
}

bool open_secure(client::session& s, const invocation& what, const prompts& ask,
                 std::wstring& password, result& failure) {
    std::error_code ec;
    if (!s.connect(ec)) {
        failure = failed(what, stage::setup, ec, false);
        return false;
    }
    if (!ask.password(account_of(what), password, ec)) {
        failure = failed(what, stage::setup, ec, false);
        return false;
    }
    if (!s.open_secure(account_of(what), password, ec)) {
        failure = failed(what, stage::setup, ec, false);
        return false;
    }
    return true;
}

bool open_clear(client::session& s, const invocation& what, result& failure) {
    std::error_code ec;
    if (!s.connect(ec) || !s.open_clear(ec)) {
        failure = failed(what, stage::setup, ec, false);
        return false;
    }
    return true;
}

bool request(client::session& s, const invocation& what, dbus_iface::iface&& method,
             const bytes& body, client::service_reply& reply, result& failure) {
    std::error_code ec;
    if (!s.call(std::move(method), body, reply, ec)) {
        failure = failed(what, stage::request, ec, false);
        return false;
    }
    if ((ec = reply.error())) {
        failure = failed(what, stage::request, ec, true);
        return false;
    }
    return true;
}

bool service_public_key(client::session& s, const invocation& what,
                        const client::session_options& options, bytes& key, bool& pinned,
                        result& failure) {
    std::optional<client::service_keys> pin;
    std::error_code ec;
    if (!client::read_service_keys(options.service_keys_path, pin, ec)) {
        failure = failed(what, stage::setup, ec, false);
        return false;
    }
    client::service_reply reply;
    if (!request(s, what, dbus_iface::system::service::get_public_key(), {}, reply, failure)) {
        return false;
    }
    if (pin && reply.payload != pin->asymmetric) {
        failure = failed(what, stage::request, client_error::service_key_mismatch, false);
        return false;
    }
    key = std::move(reply.payload);
    pinned = pin.has_value();
    return true;
}

void close_quietly(client::session& s) noexcept {
    std::error_code ignored;
    s.close(ignored);
}

std::string format_time(std::int64_t seconds) {
    const auto when = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[32];
    if (::localtime_r(&when, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local) == 0) {
        return std::to_string(seconds);
    }
    return text;
}

std::string format_size(std::uint64_t size) {
    static constexpr const char* kUnits = "KMGT";
    int unit = -1;
    while (unit < 3 && size != 0 && size % 1024 == 0) {
        size /= 1024;
        ++unit;
    }
    return std::to_string(size) + (unit < 0 ? std::string() : std::string(1, kUnits[unit]));
}

}  // namespace ztctl::detail
