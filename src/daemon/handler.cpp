#include "daemon/handler.h"

#include <cstdint>
#include <memory>

#include "crypto/crypto_factory.h"
#include "daemon/credentials.h"
#include "daemon/request_gate.h"
#include "daemon/ztctl_error.h"
#include "database/database.h"
#include "dbus/dbus_iface.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/disk_create.h"
#include "handlers/disk_force_unmount.h"
#include "handlers/disk_mount.h"
#include "handlers/disk_query.h"
#include "handlers/disk_unmount.h"
#include "handlers/respond.h"
#include "handlers/service_pub_key.h"
#include "handlers/user_admin_list.h"
#include "handlers/user_container.h"
#include "handlers/user_delete.h"
#include "handlers/user_info.h"
#include "handlers/user_insert.h"
#include "handlers/user_private.h"
#include "handlers/user_profile.h"
#include "handlers/user_register.h"
#include "handlers/user_status.h"
#include "handlers/user_sym_material.h"
#include "handlers/uuid_sym_material.h"
#include "logging/logger.h"
#include "session/packet.h"

using ztl::Logger;

namespace service_handler {

namespace {

constexpr DBusHandlerResult kHandled = DBUS_HANDLER_RESULT_HANDLED;
constexpr DBusHandlerResult kDeclined = DBUS_HANDLER_RESULT_NOT_YET_HANDLED;

// The words of every request packet in an established secure session.
constexpr std::uint32_t kDataHeader = to_word(transfer_protocol_header::secure_transfer);
constexpr std::uint32_t kRequest = to_word(transfer_protocol_phase::request);

void log_request(const char* label) {
    Logger::info(_("Request to be processed: %s"), label);
}

void log_processed(const char* label) {
    Logger::info(_("The request was processed: %s"), label);
}

// The store object name as a T, or null after logging that it is missing.
template <typename T>
std::shared_ptr<T> fetch(ztl::StoreManager& store, const char* name) {
    auto object = store.get<T>(name);
    if (!object) {
        Logger::critical("%s", _("Unable to retrieve the parameter"));
    }
    return object;
}

// The common frame of the request methods: the database, the two log lines, and the work
// only for a call that passed its checks.
// Work that needs no transfer context because its answer is public.
enum class context_need { required, none };

template <typename Session>
DBusHandlerResult serve(transfer_session& session, ztl::StoreManager& store, const char* label,
                        void (*work)(Session&, Database&),
                        context_need need = context_need::required) {
    const auto database = fetch<Database>(store, "database");
    if (!database) {
        return kDeclined;
    }
    log_request(label);
    if ((need == context_need::none || require_context(session, store)) &&
        verify_secure_call(session, kDataHeader, kRequest)) {
        work(session, *database);
    }
    log_processed(label);
    return kHandled;
}

}  // namespace

DBusHandlerResult open_session(transfer_session& session, ztl::StoreManager&) {
    log_request("OpenSession");
    std::error_code ec;
    if (!session.protocol().open(ec)) {
        Logger::warning(_("Unable to open a session: %s"), ec.message());
    }
    log_processed("OpenSession");
    return kHandled;
}

DBusHandlerResult setup_session(transfer_session& session, ztl::StoreManager&) {
    log_request("SetupSession");
    std::error_code ec;
    if (!session.protocol().establish(ec)) {
        Logger::warning(_("Unable to setup a session: %s"), ec.message());
        return kHandled;
    }
    log_processed("SetupSession");
    return kHandled;
}

DBusHandlerResult switch_session(transfer_session& session, ztl::StoreManager&) {
    if (!verify_secure_call(session, to_word(transfer_protocol_header::switch_reset),
                            std::nullopt)) {
        return kHandled;
    }
    std::error_code ec;
    if (!session.protocol().switch_context(ec)) {
        Logger::warning(_("Unable to switch session context: %s"), ec.message());
        return kHandled;
    }
    log_request("SwitchContext");
    session.switch_context();
    log_processed("SwitchContext");
    return kHandled;
}

DBusHandlerResult apply_token(transfer_session& session, ztl::StoreManager& store) {
    const auto database = fetch<Database>(store, "database");
    if (!database) {
        return kDeclined;
    }
    log_request("Private");
    // A step of the handshake: the session is not established yet, and the handshake
    // itself judges whether the call comes at the right time.
    if (verify_secure_call(session, kDataHeader, kRequest)) {
        profile_manage_handler::set_private_parameter(session, *database);
    }
    log_processed("Private");
    return kHandled;
}

DBusHandlerResult setup_complete(transfer_session& session, ztl::StoreManager& store) {
    if (!fetch<Database>(store, "database")) {
        return kDeclined;
    }
    log_request("SetupComplete");
    std::error_code ec;
    if (!session.protocol().setup_complete(ec)) {
        Logger::warning(_("Unable to complete session setup: %s"), ec.message());
        return kHandled;
    }
    session.open();
    session.set_access(session.is_admin());
    log_processed("SetupComplete");
    return kHandled;
}

DBusHandlerResult close_session(transfer_session& session, ztl::StoreManager& store) {
    const auto database = fetch<Database>(store, "database");
    if (!database) {
        return kDeclined;
    }
    log_request("StopSession");
    if (verify_secure_call(session, to_word(transfer_protocol_header::close_secure),
                           to_word(transfer_protocol_phase::confirm))) {
        // The user's disk goes down with a session that proved its token, never with one
        // that only named an account.
        stop_session_handler(session, *database);
    }
    log_processed("StopSession");
    return kHandled;
}

DBusHandlerResult auth_session(transfer_session& session, ztl::StoreManager& store) {
    const auto credentials = fetch<service_credentials>(store, "pair");
    if (!credentials) {
        return kDeclined;
    }
    const auto factory = fetch<crypto_factory>(store, "factory");
    if (!factory) {
        return kDeclined;
    }
    log_request("Auth");
    std::error_code ec;
    if (!session.protocol().init_crypto(*factory, ec)) {
        Logger::warning(_("Unable to initiate a session: %s"), ec.message());
        return kDeclined;
    }
    // The session shares the daemon's copy of the password instead of holding one of its own.
    std::shared_ptr<const std::wstring> password(credentials, &credentials->first);
    if (!session.protocol().authenticate(std::move(password), credentials->second, ec)) {
        Logger::warning(_("Unable to auth a session: %s"), ec.message());
        return kDeclined;
    }
    log_processed("Auth");
    return kHandled;
}

DBusHandlerResult get_container(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetContainer", &profile_manage_handler::get_container);
}

DBusHandlerResult identify_user(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "Identify", &user_handler::is_user_registered);
}

DBusHandlerResult get_profile(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "UserProfile", &profile_manage_handler::get_profile);
}

DBusHandlerResult get_user_list(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetUserList", &profile_manage_handler::status);
}

DBusHandlerResult get_admin_list(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetAdminList", &profile_manage_handler::get_admin_list);
}

DBusHandlerResult get_public_key(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetPublicServiceKey", &key_manage_handler::get_service_public_key,
                 context_need::none);
}

DBusHandlerResult add_user(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "InsertUser", &user_handler::insert_user);
}

DBusHandlerResult remove_user(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "DeleteUser", &user_handler::delete_user);
}

DBusHandlerResult get_info(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "Info", &profile_manage_handler::info);
}

DBusHandlerResult get_material(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetMaterial", &profile_manage_handler::get_symmetric_material);
}

DBusHandlerResult get_material_uuid(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetMaterialByUuid",
                 &profile_manage_handler::get_symmetric_material_uuid);
}

DBusHandlerResult get_status(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetStatus", &disk_handler::get_status);
}

DBusHandlerResult get_ready(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "GetReady", &disk_handler::get_ready);
}

DBusHandlerResult create_disk(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "CreateDisk", &disk_handler::create);
}

DBusHandlerResult mount_disk(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "Mount", &disk_handler::mount);
}

DBusHandlerResult unmount_disk(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "Unmount", &disk_handler::unmount);
}

DBusHandlerResult force_unmount_disk(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "ForceUnmount", &disk_handler::force_unmount);
}

DBusHandlerResult mount_disk_uuid(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "MountByUuid", &disk_handler::mount_uuid);
}

DBusHandlerResult unmount_disk_uuid(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "UnmountByUuid", &disk_handler::unmount_uuid);
}

DBusHandlerResult force_unmount_disk_uuid(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "ForceUnmountByUuid", &disk_handler::force_unmount_uuid);
}

DBusHandlerResult is_exist_uuid(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "CheckUuid", &disk_handler::is_exist_uuid);
}

DBusHandlerResult is_created(transfer_session& session, ztl::StoreManager& store) {
    return serve(session, store, "CheckDisk", &disk_handler::check);
}

bool register_all(DbusServer& server, std::error_code& ec) {
    namespace ds = dbus_iface::system;
    namespace disk = ds::disk_manage;
    namespace users = ds::user_manage;
    // Registration order is the table's: the bus library sees the paths in this order.
    return server.register_handler(ds::session::open(), &open_session, ec) &&
           server.register_handler(ds::session::setup(), &setup_session, ec) &&
           server.register_handler(ds::session::switch_context(), &switch_session, ec) &&
           server.register_handler(ds::session::apply_private(), &apply_token, ec) &&
           server.register_handler(ds::session::setup_complete(), &setup_complete, ec) &&
           server.register_handler(ds::session::close(), &close_session, ec) &&
           server.register_handler(ds::session::auth::set_auth_data(), &auth_session, ec) &&
           server.register_handler(users::common::get_container(), &get_container, ec) &&
           server.register_handler(ds::auth::identify_user(), &identify_user, ec) &&
           server.register_handler(ds::status::get_profile(), &get_profile, ec) &&
           server.register_handler(ds::status::get_list(), &get_user_list, ec) &&
           server.register_handler(ds::status::get_admin_list(), &get_admin_list, ec) &&
           server.register_handler(ds::service::get_public_key(), &get_public_key, ec) &&
           server.register_handler(users::admin::add(), &add_user, ec) &&
           server.register_handler(users::admin::remove(), &remove_user, ec) &&
           server.register_handler(ds::status::get_info(), &get_info, ec) &&
           server.register_handler(users::user::get_material(), &get_material, ec) &&
           server.register_handler(users::user::get_material_uuid(), &get_material_uuid, ec) &&
           server.register_handler(disk::user::get_status(), &get_status, ec) &&
           server.register_handler(disk::user::get_ready(), &get_ready, ec) &&
           server.register_handler(disk::admin::create(), &create_disk, ec) &&
           server.register_handler(disk::user::mount(), &mount_disk, ec) &&
           server.register_handler(disk::user::unmount(), &unmount_disk, ec) &&
           server.register_handler(disk::user::force_unmount(), &force_unmount_disk, ec) &&
           server.register_handler(disk::user::mount_uuid(), &mount_disk_uuid, ec) &&
           server.register_handler(disk::user::unmount_uuid(), &unmount_disk_uuid, ec) &&
           server.register_handler(disk::user::force_unmount_uuid(), &force_unmount_disk_uuid,
                                   ec) &&
           server.register_handler(disk::user::is_exist_uuid(), &is_exist_uuid, ec) &&
           server.register_handler(disk::user::is_created(), &is_created, ec) &&
           server.register_handler(ds::control::stop(), &stop, ec) &&
           server.register_handler(ds::applied::deinit(), &deinit, ec);
}

}  // namespace service_handler
