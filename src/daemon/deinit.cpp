#include "daemon/deinit.h"

#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "config/config_manager.h"
#include "daemon/handler.h"
#include "daemon/request_gate.h"
#include "daemon/service_paths.h"
#include "daemon/ztctl_error.h"
#include "dbus/reply_builder.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "logging/logger.h"
#include "session/packet.h"
#include "system/file_ops.h"

using ztl::Logger;

namespace service_handler {

void deinit_handler(transfer_session_safe& session) {
    std::error_code ec;
    config_manager config(name::service::config_path);
    const auto reply = foundation::make_deferred([&] {
        std::error_code ignored;
        answer(session, ec ? reply_builder(ec).obtain() : reply_builder::success(), ignored);
    });

    const std::string service_path = config.read("service_path", ec);
    if (service_path.empty()) {
        Logger::warning(_("Unable to read config: %s"), ec.message());
        return;
    }
    if (!os::remove(name::service::make_database_path(service_path), ec)) {
        Logger::warning(_("Unable to remove database file: %s"), ec.message());
        return;
    }
    if (!os::remove(name::service::make_service_path(service_path), ec)) {
        Logger::warning(_("Unable to remove daemon file: %s"), ec.message());
    }
}

DBusHandlerResult deinit(transfer_session& session, ztl::StoreManager& store) {
    const auto stop_service = store.get<std::function<void()>>("stop_no_save");
    if (!stop_service) {
        Logger::critical("%s", _("Unable to retrieve the parameter"));
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    Logger::info(_("Request to be processed: %s"), "Deinitialize");
    if (verify_secure_call(session, to_word(transfer_protocol_header::secure_transfer),
                           to_word(transfer_protocol_phase::request))) {
        if (!caller_is_root(session, store)) {
            const std::error_code refused = ztctl_error::session_not_open_or_unsafe;
            Logger::warning(_("Unable to deinit: %s"), refused.message());
            refuse(session, store, refused);
        } else {
            deinit_handler(session);
            (*stop_service)();
        }
    }
    Logger::info(_("The request was processed: %s"), "Deinitialize");
    return DBUS_HANDLER_RESULT_HANDLED;
}

}  // namespace service_handler
