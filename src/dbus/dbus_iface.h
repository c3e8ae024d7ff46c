#pragma once

#include <string>

// The daemon's whole bus vocabulary: one stateless descriptor per method or signal, naming
// its object path, interface and member. Handlers are registered and signals emitted by
// passing a temporary descriptor.
namespace dbus_iface {

// An address on the bus. The three operations keep this order: path, interface, member.
class iface {
  public:
    virtual ~iface() = default;

    // The object path, e.g. "/ru/quorvex/system/session".
    virtual std::string path() const = 0;
    // The interface name, e.g. "ru.quorvex.system.session".
    virtual std::string interface() const = 0;
    // The member (method or signal) name, e.g. "Open".
    virtual std::string method() const = 0;

  protected:
    iface() = default;
    iface(const iface&) = default;
    iface& operator=(const iface&) = default;
};

namespace system::session {

// Object "/ru/quorvex/system/session", interface "ru.quorvex.system.session"; the member is left to
// each method.
class session_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/session"; }
    std::string interface() const override { return "ru.quorvex.system.session"; }
};

// Method "Open" of "ru.quorvex.system.session".
class open final : public session_interface {
  public:
    std::string method() const override { return "Open"; }
};

// Method "SetupAuthenticatedSession" of "ru.quorvex.system.session".
class setup final : public session_interface {
  public:
    std::string method() const override { return "SetupAuthenticatedSession"; }
};

// Method "SwitchContext" of "ru.quorvex.system.session".
class switch_context final : public session_interface {
  public:
    std::string method() const override { return "SwitchContext"; }
};

// Method "SetPrivateParameter" of "ru.quorvex.system.session".
class apply_private final : public session_interface {
  public:
    std::string method() const override { return "SetPrivateParameter"; }
};

// Method "SetupComplete" of "ru.quorvex.system.session".
class setup_complete final : public session_interface {
  public:
    std::string method() const override { return "SetupComplete"; }
};

// Method "Close" of "ru.quorvex.system.session".
class close final : public session_interface {
  public:
    std::string method() const override { return "Close"; }
};

}  // namespace system::session

namespace system::session::auth {

// Object "/ru/quorvex/system/session/auth", interface "ru.quorvex.system.session.auth"; the member
// is left to each method.
class session_auth_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/session/auth"; }
    std::string interface() const override { return "ru.quorvex.system.session.auth"; }
};

// Method "SetAuthData" of "ru.quorvex.system.session.auth".
class set_auth_data final : public session_auth_interface {
  public:
    std::string method() const override { return "SetAuthData"; }
};

}  // namespace system::session::auth

namespace system::auth {

// Object "/ru/quorvex/system/authentication", interface "ru.quorvex.authentication"; the member is
// left to each method.
class auth_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/authentication"; }
    std::string interface() const override { return "ru.quorvex.authentication"; }
};

// Method "Identify" of "ru.quorvex.authentication".
class identify_user final : public auth_interface {
  public:
    std::string method() const override { return "Identify"; }
};

}  // namespace system::auth

namespace system::service {

// Object "/ru/quorvex/system/service", interface "ru.quorvex.system.service"; the member is left to
// each method.
class service_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/service"; }
    std::string interface() const override { return "ru.quorvex.system.service"; }
};

// Method "GetPublicKey" of "ru.quorvex.system.service".
class get_public_key final : public service_interface {
  public:
    std::string method() const override { return "GetPublicKey"; }
};

}  // namespace system::service

namespace system::disk_manage {

// Object "/ru/quorvex/system/disk"; its methods live under several interfaces, so each method
// names its own interface as well as its member.
class disk_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/disk"; }
};

namespace admin {

// Method "Create" of "ru.quorvex.system.disk.admin".
class create final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.admin"; }
    std::string method() const override { return "Create"; }
};

}  // namespace admin

namespace user {

// Method "Mount" of "ru.quorvex.system.disk.user".
class mount final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "Mount"; }
};

// Method "Unmount" of "ru.quorvex.system.disk.user".
class unmount final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "Unmount"; }
};

// Method "ForceUnmount" of "ru.quorvex.system.disk.user".
class force_unmount final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "ForceUnmount"; }
};

// Method "MountUuid" of "ru.quorvex.system.disk.user".
class mount_uuid final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "MountUuid"; }
};

// Method "UnmountUuid" of "ru.quorvex.system.disk.user".
class unmount_uuid final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "UnmountUuid"; }
};

// Method "ForceUnmountUuid" of "ru.quorvex.system.disk.user".
class force_unmount_uuid final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "ForceUnmountUuid"; }
};

// Method "IsCreated" of "ru.quorvex.system.disk.user".
class is_created final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "IsCreated"; }
};

// Method "IsExistUuid" of "ru.quorvex.system.disk.user".
class is_exist_uuid final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "IsExistUuid"; }
};

// Method "GetReady" of "ru.quorvex.system.disk.user".
class get_ready final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "GetReady"; }
};

// Method "GetStatus" of "ru.quorvex.system.disk.user".
class get_status final : public disk_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.disk.user"; }
    std::string method() const override { return "GetStatus"; }
};

}  // namespace user

}  // namespace system::disk_manage

namespace system::user_manage {

// Object "/ru/quorvex/system/userManage"; its methods live under several interfaces, so each method
// names its own interface as well as its member.
class user_manage_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/userManage"; }
};

namespace admin {

// Method "Add" of "ru.quorvex.system.userManage.admin".
class add final : public user_manage_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.userManage.admin"; }
    std::string method() const override { return "Add"; }
};

// Method "Remove" of "ru.quorvex.system.userManage.admin".
class remove final : public user_manage_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.userManage.admin"; }
    std::string method() const override { return "Remove"; }
};

}  // namespace admin

namespace user {

// Method "GetSymmetricMaterial" of "ru.quorvex.system.userManage.user".
class get_material final : public user_manage_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.userManage.user"; }
    std::string method() const override { return "GetSymmetricMaterial"; }
};

// Method "GetSymmetricMaterialUuid" of "ru.quorvex.system.userManage.user".
class get_material_uuid final : public user_manage_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.userManage.user"; }
    std::string method() const override { return "GetSymmetricMaterialUuid"; }
};

}  // namespace user

namespace common {

// Method "GetContainer" of "ru.quorvex.system.userManage".
class get_container final : public user_manage_interface {
  public:
    std::string interface() const override { return "ru.quorvex.system.userManage"; }
    std::string method() const override { return "GetContainer"; }
};

}  // namespace common

}  // namespace system::user_manage

namespace system::status {

// Object "/ru/quorvex/system/status", interface "ru.quorvex.system.status"; the member is left to
// each method.
class status_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/status"; }
    std::string interface() const override { return "ru.quorvex.system.status"; }
};

// Method "GetList" of "ru.quorvex.system.status".
class get_list final : public status_interface {
  public:
    std::string method() const override { return "GetList"; }
};

// Method "GetAdminList" of "ru.quorvex.system.status".
class get_admin_list final : public status_interface {
  public:
    std::string method() const override { return "GetAdminList"; }
};

// Method "GetProfile" of "ru.quorvex.system.status".
class get_profile final : public status_interface {
  public:
    std::string method() const override { return "GetProfile"; }
};

// Method "GetInfo" of "ru.quorvex.system.status".
class get_info final : public status_interface {
  public:
    std::string method() const override { return "GetInfo"; }
};

}  // namespace system::status

namespace system::control {

// Object "/ru/quorvex/system/control", interface "ru.quorvex.system.control"; the member is left to
// each method.
class control_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/control"; }
    std::string interface() const override { return "ru.quorvex.system.control"; }
};

// Method "Stop" of "ru.quorvex.system.control".
class stop final : public control_interface {
  public:
    std::string method() const override { return "Stop"; }
};

}  // namespace system::control

namespace system::applied {

// Object "/ru/quorvex/system/applied", interface "ru.quorvex.system.applied"; the member is left to
// each method.
class applied_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/system/applied"; }
    std::string interface() const override { return "ru.quorvex.system.applied"; }
};

// Method "Deinit" of "ru.quorvex.system.applied".
class deinit final : public applied_interface {
  public:
    std::string method() const override { return "Deinit"; }
};

}  // namespace system::applied

namespace signal {

// Object "/ru/quorvex/signal", interface "ru.quorvex.signal.action"; the member is left to each
// method.
class action_interface : public iface {
  public:
    std::string path() const override { return "/ru/quorvex/signal"; }
    std::string interface() const override { return "ru.quorvex.signal.action"; }
};

// Signal "Shutdown" of "ru.quorvex.signal.action".
class shutdown final : public action_interface {
  public:
    std::string method() const override { return "Shutdown"; }
};

}  // namespace signal

}  // namespace dbus_iface
