#include "dbus/dbus_iface.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

namespace ds = dbus_iface::system;

// A descriptor and the address it must answer, as "path interface.Member".
struct Address {
    std::unique_ptr<dbus_iface::iface> descriptor;
    std::string expected;
};

template <typename T>
Address row(const std::string& path, const std::string& interface, const char* member) {
    return {std::make_unique<T>(),
            "/ru/quorvex/" + path + " ru.quorvex." + interface + "." + member};
}

// The daemon's published bus vocabulary; clients are built against these exact strings (all
// 31 distinct).
TEST(DbusIface, EveryMethodAnswersItsAddress) {
    namespace dm = ds::disk_manage;
    namespace um = ds::user_manage;
    const std::string session = "system/session", disk = "system/disk", users = "system/userManage";
    Address rows[] = {
        row<ds::session::open>(session, "system.session", "Open"),
        row<ds::session::setup>(session, "system.session", "SetupAuthenticatedSession"),
        row<ds::session::switch_context>(session, "system.session", "SwitchContext"),
        row<ds::session::apply_private>(session, "system.session", "SetPrivateParameter"),
        row<ds::session::setup_complete>(session, "system.session", "SetupComplete"),
        row<ds::session::close>(session, "system.session", "Close"),
        row<ds::session::auth::set_auth_data>("system/session/auth", "system.session.auth",
                                              "SetAuthData"),
        row<ds::auth::identify_user>("system/authentication", "authentication", "Identify"),
        row<ds::service::get_public_key>("system/service", "system.service", "GetPublicKey"),
        row<dm::admin::create>(disk, "system.disk.admin", "Create"),
        row<dm::user::mount>(disk, "system.disk.user", "Mount"),
        row<dm::user::unmount>(disk, "system.disk.user", "Unmount"),
        row<dm::user::force_unmount>(disk, "system.disk.user", "ForceUnmount"),
        row<dm::user::mount_uuid>(disk, "system.disk.user", "MountUuid"),
        row<dm::user::unmount_uuid>(disk, "system.disk.user", "UnmountUuid"),
        row<dm::user::force_unmount_uuid>(disk, "system.disk.user", "ForceUnmountUuid"),
        row<dm::user::is_created>(disk, "system.disk.user", "IsCreated"),
        row<dm::user::is_exist_uuid>(disk, "system.disk.user", "IsExistUuid"),
        row<dm::user::get_ready>(disk, "system.disk.user", "GetReady"),
        row<dm::user::get_status>(disk, "system.disk.user", "GetStatus"),
        row<um::admin::add>(users, "system.userManage.admin", "Add"),
        row<um::admin::remove>(users, "system.userManage.admin", "Remove"),
        row<um::user::get_material>(users, "system.userManage.user", "GetSymmetricMaterial"),
        row<um::user::get_material_uuid>(users, "system.userManage.user",
                                         "GetSymmetricMaterialUuid"),
        row<um::common::get_container>(users, "system.userManage", "GetContainer"),
        row<ds::status::get_list>("system/status", "system.status", "GetList"),
        row<ds::status::get_admin_list>("system/status", "system.status", "GetAdminList"),
        row<ds::status::get_profile>("system/status", "system.status", "GetProfile"),
        row<ds::status::get_info>("system/status", "system.status", "GetInfo"),
        row<ds::control::stop>("system/control", "system.control", "Stop"),
        row<ds::applied::deinit>("system/applied", "system.applied", "Deinit"),
    };
    for (const auto& [descriptor, expected] : rows) {
        EXPECT_EQ(descriptor->path() + " " + descriptor->interface() + "." + descriptor->method(),
                  expected);
    }
    EXPECT_EQ(dbus_iface::signal::shutdown().path() + " " +
                  dbus_iface::signal::shutdown().interface() + "." +
                  dbus_iface::signal::shutdown().method(),
              "/ru/quorvex/signal ru.quorvex.signal.action.Shutdown");
}

}  // namespace
