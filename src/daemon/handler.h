#pragma once

#include <dbus/dbus.h>

#include <system_error>

#include "dbus/dbus_server.h"
#include "session/transfer_session.h"
#include "store/store_manager.h"

// The frame of every method the daemon serves: it logs the request, fetches the shared
// objects it needs, lets the call through its checks (request_gate.h), calls the work and
// logs completion. A frame returns DBUS_HANDLER_RESULT_HANDLED once the work was called
// (the work has answered or failed on its own), and DBUS_HANDLER_RESULT_NOT_YET_HANDLED when
// an object was missing (or, for "SetAuthData", a step failed), so that the bus library
// answers with its unknown-method error.
namespace service_handler {

// The session interfaces: the handshake.
DBusHandlerResult open_session(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult setup_session(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult switch_session(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult apply_token(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult setup_complete(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult close_session(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult auth_session(transfer_session& session, ztl::StoreManager& store);

// Accounts, profiles and keys.
DBusHandlerResult get_container(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult identify_user(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_profile(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_user_list(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_admin_list(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_public_key(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult add_user(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult remove_user(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_info(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_material(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_material_uuid(transfer_session& session, ztl::StoreManager& store);

// Disks.
DBusHandlerResult get_status(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult get_ready(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult create_disk(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult mount_disk(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult unmount_disk(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult force_unmount_disk(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult mount_disk_uuid(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult unmount_disk_uuid(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult force_unmount_disk_uuid(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult is_exist_uuid(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult is_created(transfer_session& session, ztl::StoreManager& store);

// The service itself (stop.cpp, deinit.cpp): served for root callers only.
DBusHandlerResult stop(transfer_session& session, ztl::StoreManager& store);
DBusHandlerResult deinit(transfer_session& session, ztl::StoreManager& store);

// Binds every method above to its descriptor, in the table's order; the first failure
// returns false with the server's error (earlier bindings stay).
bool register_all(DbusServer& server, std::error_code& ec);

}  // namespace service_handler
