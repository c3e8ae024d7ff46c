#include "dbus/dbus_iface.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dbus/bus_name.h"

namespace {

namespace di = dbus_iface;
namespace ds = dbus_iface::system;

struct Address {
    std::unique_ptr<di::iface> descriptor;
    const char* path;
    const char* interface;
    const char* member;
};

template <typename T>
Address row(const char* path, const char* interface, const char* member) {
    return {std::make_unique<T>(), path, interface, member};
}

// The daemon's published bus vocabulary; clients are built against these exact strings.
std::vector<Address> vocabulary() {
    constexpr const char* kSession = "/ru/quorvex/system/session";
    constexpr const char* kDisk = "/ru/quorvex/system/disk";
    constexpr const char* kUsers = "/ru/quorvex/system/userManage";
    constexpr const char* kStatus = "/ru/quorvex/system/status";
    std::vector<Address> rows;
    rows.push_back(row<ds::session::open>(kSession, "ru.quorvex.system.session", "Open"));
    rows.push_back(row<ds::session::setup>(kSession, "ru.quorvex.system.session",
                                           "SetupAuthenticatedSession"));
    rows.push_back(
        row<ds::session::switch_context>(kSession, "ru.quorvex.system.session", "SwitchContext"));
    rows.push_back(row<ds::session::apply_private>(kSession, "ru.quorvex.system.session",
                                                   "SetPrivateParameter"));
    rows.push_back(
        row<ds::session::setup_complete>(kSession, "ru.quorvex.system.session", "SetupComplete"));
    rows.push_back(row<ds::session::close>(kSession, "ru.quorvex.system.session", "Close"));
    rows.push_back(row<ds::session::auth::set_auth_data>(
        "/ru/quorvex/system/session/auth", "ru.quorvex.system.session.auth", "SetAuthData"));
    rows.push_back(row<ds::auth::identify_user>("/ru/quorvex/system/authentication",
                                                "ru.quorvex.authentication", "Identify"));
    rows.push_back(row<ds::service::get_public_key>("/ru/quorvex/system/service",
                                                    "ru.quorvex.system.service", "GetPublicKey"));
    rows.push_back(
        row<ds::disk_manage::admin::create>(kDisk, "ru.quorvex.system.disk.admin", "Create"));
    const std::pair<std::function<std::unique_ptr<di::iface>()>, const char*> user_disk[] = {
        {[] { return std::make_unique<ds::disk_manage::user::mount>(); }, "Mount"},
        {[] { return std::make_unique<ds::disk_manage::user::unmount>(); }, "Unmount"},
        {[] { return std::make_unique<ds::disk_manage::user::force_unmount>(); }, "ForceUnmount"},
        {[] { return std::make_unique<ds::disk_manage::user::mount_uuid>(); }, "MountUuid"},
        {[] { return std::make_unique<ds::disk_manage::user::unmount_uuid>(); }, "UnmountUuid"},
        {[] { return std::make_unique<ds::disk_manage::user::force_unmount_uuid>(); },
         "ForceUnmountUuid"},
        {[] { return std::make_unique<ds::disk_manage::user::is_created>(); }, "IsCreated"},
        {[] { return std::make_unique<ds::disk_manage::user::is_exist_uuid>(); }, "IsExistUuid"},
        {[] { return std::make_unique<ds::disk_manage::user::get_ready>(); }, "GetReady"},
        {[] { return std::make_unique<ds::disk_manage::user::get_status>(); }, "GetStatus"},
    };
    for (const auto& [make, member] : user_disk) {
        rows.push_back({make(), kDisk, "ru.quorvex.system.disk.user", member});
    }
    rows.push_back(
        row<ds::user_manage::admin::add>(kUsers, "ru.quorvex.system.userManage.admin", "Add"));
    rows.push_back(row<ds::user_manage::admin::remove>(kUsers, "ru.quorvex.system.userManage.admin",
                                                       "Remove"));
    rows.push_back(row<ds::user_manage::user::get_material>(
        kUsers, "ru.quorvex.system.userManage.user", "GetSymmetricMaterial"));
    rows.push_back(row<ds::user_manage::user::get_material_uuid>(
        kUsers, "ru.quorvex.system.userManage.user", "GetSymmetricMaterialUuid"));
    rows.push_back(row<ds::user_manage::common::get_container>(
        kUsers, "ru.quorvex.system.userManage", "GetContainer"));
    rows.push_back(row<ds::status::get_list>(kStatus, "ru.quorvex.system.status", "GetList"));
    rows.push_back(
        row<ds::status::get_admin_list>(kStatus, "ru.quorvex.system.status", "GetAdminList"));
    rows.push_back(row<ds::status::get_profile>(kStatus, "ru.quorvex.system.status", "GetProfile"));
    rows.push_back(row<ds::status::get_info>(kStatus, "ru.quorvex.system.status", "GetInfo"));
    rows.push_back(
        row<ds::control::stop>("/ru/quorvex/system/control", "ru.quorvex.system.control", "Stop"));
    rows.push_back(row<ds::applied::deinit>("/ru/quorvex/system/applied",
                                            "ru.quorvex.system.applied", "Deinit"));
    rows.push_back(
        row<di::signal::shutdown>("/ru/quorvex/signal", "ru.quorvex.signal.action", "Shutdown"));
    return rows;
}

TEST(DbusIface, EveryDescriptorAnswersItsAddress) {
    for (const auto& address : vocabulary()) {
        SCOPED_TRACE(address.member);
        EXPECT_EQ(address.descriptor->path(), address.path);
        EXPECT_EQ(address.descriptor->interface(), address.interface);
        EXPECT_EQ(address.descriptor->method(), address.member);
    }
}

TEST(DbusIface, ThirtyOneMethodsOnNinePathsAndTwelveInterfaces) {
    std::set<std::string> paths;
    std::set<std::string> interfaces;
    std::set<std::pair<std::string, std::string>> members;
    int methods = 0;
    for (const auto& address : vocabulary()) {
        if (address.descriptor->method() == "Shutdown") {
            continue;
        }
        ++methods;
        paths.insert(address.descriptor->path());
        interfaces.insert(address.descriptor->interface());
        members.insert({address.descriptor->interface(), address.descriptor->method()});
    }
    EXPECT_EQ(methods, 31);
    EXPECT_EQ(members.size(), 31u);  // no two descriptors collide
    EXPECT_EQ(paths.size(), 9u);
    EXPECT_EQ(interfaces.size(), 12u);
}

TEST(DbusIface, DiskMethodsShareOnePathUnderTwoInterfaces) {
    std::set<std::string> interfaces;
    for (const auto& address : vocabulary()) {
        if (address.descriptor->path() == "/ru/quorvex/system/disk") {
            interfaces.insert(address.descriptor->interface());
        }
    }
    EXPECT_EQ(interfaces, (std::set<std::string>{"ru.quorvex.system.disk.admin",
                                                 "ru.quorvex.system.disk.user"}));
}

TEST(DbusIface, GroupClassesAreAbstract) {
    static_assert(std::is_abstract_v<di::iface>);
    static_assert(std::is_abstract_v<ds::session::session_interface>);
    static_assert(std::is_abstract_v<ds::session::auth::session_auth_interface>);
    static_assert(std::is_abstract_v<ds::auth::auth_interface>);
    static_assert(std::is_abstract_v<ds::service::service_interface>);
    static_assert(std::is_abstract_v<ds::disk_manage::disk_interface>);
    static_assert(std::is_abstract_v<ds::user_manage::user_manage_interface>);
    static_assert(std::is_abstract_v<ds::status::status_interface>);
    static_assert(std::is_abstract_v<ds::control::control_interface>);
    static_assert(std::is_abstract_v<ds::applied::applied_interface>);
    static_assert(std::is_abstract_v<di::signal::action_interface>);
    static_assert(std::is_base_of_v<ds::disk_manage::disk_interface, ds::disk_manage::user::mount>);
    static_assert(
        std::is_base_of_v<ds::user_manage::user_manage_interface, ds::user_manage::admin::add>);
    SUCCEED();
}

TEST(DbusIface, DescriptorPassesAsTemporary) {
    auto describe = [](di::iface&& address) {
        return address.path() + " " + address.interface() + "." + address.method();
    };
    EXPECT_EQ(describe(ds::control::stop()),
              "/ru/quorvex/system/control ru.quorvex.system.control.Stop");
}

TEST(ServerBusName, PrefixesUserName) {
    EXPECT_EQ(misc::get_server_bus_name("user1"), "ru.quorvex.user1");
    EXPECT_EQ(misc::get_server_bus_name(""), "ru.quorvex.");
}

}  // namespace
