#include <functional>
#include <memory>

#include "daemon/handler.h"
#include "daemon/request_gate.h"
#include "daemon/ztctl_error.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "logging/logger.h"
#include "session/packet.h"

using ztl::Logger;

namespace service_handler {

DBusHandlerResult stop(transfer_session& session, ztl::StoreManager& store) {
    const auto stop_service = store.get<std::function<void()>>("stop");
    if (!stop_service) {
        Logger::critical("%s", _("Unable to retrieve the parameter"));
        return DBUS_HANDLER_RESULT_NOT_YET_HANDLED;
    }
    Logger::info(_("Request to be processed: %s"), "Stop");
    if (verify_secure_call(session, to_word(transfer_protocol_header::secure_transfer),
                           to_word(transfer_protocol_phase::request))) {
        // The bus policy cannot keep other users away: the per-user policies that
        // registration installs allow sending to the service.
        if (!caller_is_root(session, store)) {
            const std::error_code refused = ztctl_error::session_not_open_or_unsafe;
            Logger::warning(_("Unable to stop: %s"), refused.message());
            refuse(session, store, refused);
        } else {
            std::error_code ec;
            if (!answer(session, reply_builder::success(), ec)) {
                Logger::warning(_("Unable to response: %s"), ec.message());
            }
            (*stop_service)();
        }
    }
    Logger::info(_("The request was processed: %s"), "Stop");
    return DBUS_HANDLER_RESULT_HANDLED;
}

}  // namespace service_handler
