#include "daemon/request_gate.h"

#include "daemon/ztctl_error.h"
#include "dbus/dbus_server.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"
#include "logging/logger.h"
#include "session/packet.h"
#include "session/transfer_context.h"
#include "session/transfer_error.h"

namespace service_handler {

namespace {

// Sends a D-Bus error with the error's text; false when the server is not in the store.
bool reply_bus_error(transfer_session& session, ztl::StoreManager& store,
                     const std::error_code& error) {
    const auto server = store.get<DbusServer>("server");
    if (!server) {
        ztl::Logger::critical("%s", _("Unable to retrieve the parameter"));
        return false;
    }
    std::error_code ec;
    return server->reply_error(session.protocol().network().get_message(), error.message(), ec);
}

}  // namespace

bool require_context(transfer_session& session, ztl::StoreManager& store) {
    if (session.protocol().context() != nullptr && session.protocol().is_session_established()) {
        return true;
    }
    reply_bus_error(session, store, ztctl_error::session_not_established);
    return false;
}

bool verify_secure_call(transfer_session& session, std::uint32_t header,
                        std::optional<std::uint32_t> metadata) {
    transfer_server& protocol = session.protocol();
    if (!protocol.is_session_established() || !protocol.is_session_secured()) {
        return true;
    }
    std::error_code ec;
    if (protocol.verify_request(header,
                                metadata.value_or(to_word(transfer_protocol_phase::confirm)), ec)) {
        return true;
    }
    // The header is checked before the metadata: a wrong metadata means the packet was
    // sound and its header right, which is all a call with any metadata needs.
    if (!metadata && ec == transfer_error::bad_metadata) {
        return true;
    }
    ztl::Logger::warning(_("Unable to accept the request: %s"), ec.message());
    std::error_code ignored;
    if (auto* context = protocol.context()) {
        context->response(reply_builder(ec).obtain(), ignored);
    }
    return false;
}

bool answer(transfer_session_safe& session, const std::vector<unsigned char>& reply,
            std::error_code& ec) {
    return handler_reply::respond_or_clear(session, reply, ec);
}

void refuse(transfer_session& session, ztl::StoreManager& store, const std::error_code& error) {
    if (session.protocol().context() != nullptr && session.protocol().is_session_established()) {
        std::error_code ignored;
        handler_reply::respond_or_clear(session, reply_builder(error).obtain(), ignored);
        return;
    }
    reply_bus_error(session, store, error);
}

bool caller_is_root(transfer_session& session, ztl::StoreManager& store) {
    const auto server = store.get<DbusServer>("server");
    if (!server) {
        ztl::Logger::critical("%s", _("Unable to retrieve the parameter"));
        return false;
    }
    uid_t uid = 0;
    std::error_code ec;
    return server->sender_uid(session.protocol().network().get_sender_id(), uid, ec) && uid == 0;
}

}  // namespace service_handler
