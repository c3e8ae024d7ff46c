#include "client/disk_key.h"

#include <vector>

#include "client/keystore.h"
#include "crypto/crypto_error.h"

namespace client {

namespace {

using bytes = std::vector<unsigned char>;

// One request whose reply must be a success; its payload goes to payload.
bool fetch(session& s, dbus_iface::iface&& method, const bytes& body, bytes& payload,
           std::error_code& ec, bool& from_service) {
    service_reply reply;
    from_service = false;
    if (!s.call(std::move(method), body, reply, ec)) {
        return false;
    }
    if ((ec = reply.error())) {
        from_service = true;
        return false;
    }
    payload = std::move(reply.payload);
    return true;
}

}  // namespace

RawMemoryDefault fetch_disk_key(session& own, const session_options& options,
                                const std::string& account, const std::wstring& password,
                                std::error_code& ec, bool& from_service) {
    bytes material;
    if (!fetch(own, dbus_iface::system::user_manage::user::get_material(), {}, material, ec,
               from_service)) {
        return {};
    }
    // The container is no secret (only the password opens it): a clear session serves it.
    session clear(options);
    bytes container;
    if (!clear.connect(ec) || !clear.open_clear(ec)) {
        from_service = false;
        return {};
    }
    const bool fetched = fetch(clear, dbus_iface::system::user_manage::common::get_container(),
                               bytes(account.begin(), account.end()), container, ec, from_service);
    std::error_code ignored;
    clear.close(ignored);
    if (!fetched) {
        return {};
    }
    const crypto_factory factory = seeded_factory();
    if (!factory) {
        ec = crypto_error::factory_not_initialized;
        return {};
    }
    return open_disk_key(factory, container, password, material, ec);
}

}  // namespace client
