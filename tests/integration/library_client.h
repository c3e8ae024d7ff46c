#pragma once

// The project's client library against the daemon of a sandbox: encrypted sessions, calls,
// key stores, registrations and an account's own disk key, each failing the test when a
// step that must work does not.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "client/keystore.h"
#include "client/session.h"
#include "handlers/profile.h"
#include "testing/sandbox.h"

namespace library_test {

using bytes = std::vector<unsigned char>;

inline bytes text(const std::string& s) {
    return bytes(s.begin(), s.end());
}

inline std::wstring wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

class library_client {
  public:
    // Points the library at the sandbox's bus (the system bus address of this process).
    explicit library_client(const zt_testing::sandbox& box)
        : m_box(box), m_factory(client::seeded_factory()) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", box.bus_address().c_str(), 1);
    }

    client::session_options options() const {
        client::session_options o;
        o.service_keys_path = m_box.host_path("/etc/ztctl/service.pub");
        return o;
    }

    // An encrypted session as account.
    std::unique_ptr<client::session> open(const std::string& account, const std::string& pw) {
        auto s = std::make_unique<client::session>(options());
        std::error_code ec;
        EXPECT_TRUE(s->connect(ec) && s->open_secure(account, wide(pw), ec))
            << account << ": " << ec.message();
        return s;
    }

    // One call on s; the reply (empty when none came).
    client::service_reply call(client::session& s, dbus_iface::iface&& method, const bytes& body) {
        client::service_reply reply;
        std::error_code ec;
        EXPECT_TRUE(s.call(std::move(method), body, reply, ec)) << ec.message();
        return reply;
    }

    // One call in a clear session of its own.
    client::service_reply call_clear(dbus_iface::iface&& method, const bytes& body) {
        client::session s(options());
        std::error_code ec;
        EXPECT_TRUE(s.connect(ec) && s.open_clear(ec)) << ec.message();
        return call(s, std::move(method), body);
    }

    // A key store for a new account with password, written at path inside the sandbox.
    void write_keystore(const std::string& path, const std::string& pw) {
        const auto key = call_clear(dbus_iface::system::service::get_public_key(), {});
        bytes file;
        std::error_code ec;
        ASSERT_TRUE(client::prepare_keystore(m_factory, key.payload, wide(pw), file, ec))
            << ec.message();
        m_box.write_file(path, std::string(file.begin(), file.end()), 0600);
    }

    // The error value of an "Add" of name from the key store at path (0 for success).
    int add(client::session& admin, const std::string& name, const std::string& path) {
        return call(admin, dbus_iface::system::user_manage::admin::add(),
                    Container::Profile(name, path).serialize())
            .error()
            .value();
    }

    // The disk key that account's symmetric material holds, opened with its password.
    bytes disk_key(client::session& own, const std::string& account, const std::string& pw) {
        const auto material =
            call(own, dbus_iface::system::user_manage::user::get_material(), {}).payload;
        const auto container =
            call_clear(dbus_iface::system::user_manage::common::get_container(), text(account));
        std::error_code ec;
        const auto key =
            client::open_disk_key(m_factory, container.payload, wide(pw), material, ec);
        EXPECT_FALSE(ec) << ec.message();
        return key.to_vector();
    }

  private:
    const zt_testing::sandbox& m_box;
    crypto_factory m_factory;
};

}  // namespace library_test
