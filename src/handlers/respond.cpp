#include "handlers/respond.h"

#include "daemon/ztctl_error.h"
#include "dbus/reply_builder.h"
#include "logging/logger.h"
#include "session/packet.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "system/wipe.h"

namespace handler_reply {

bool respond(transfer_session_safe& session, const std::vector<unsigned char>& reply,
             std::error_code& ec) {
    auto* context = session.protocol().context();
    if (context == nullptr) {
        ec = ztctl_error::session_not_established;
        return false;
    }
    return context->response(reply, ec);
}

bool respond_or_clear(transfer_session_safe& session, const std::vector<unsigned char>& reply,
                      std::error_code& ec) {
    if (respond(session, reply, ec)) {
        return true;
    }
    return session.protocol().network().response(to_word(transfer_protocol_header::unsafe_transfer),
                                                 to_word(transfer_protocol_phase::response), reply,
                                                 ec);
}

void fail(transfer_session_safe& session, const char* format, const std::error_code& error) {
    ztl::Logger::warning(format, error.message());
    std::error_code ignored;
    respond_or_clear(session, reply_builder(error).obtain(), ignored);
}

}  // namespace handler_reply

namespace handler_reply {

reply_guard::reply_guard(transfer_session_safe& session, const char* warning)
    : reply(reply_builder::success()), m_session(session), m_warning(warning) {}

// The reply may carry key material (a container, a key store): it is wiped once sent.
reply_guard::~reply_guard() {
    if (ec) {
        fail(m_session, m_warning, ec);
    } else {
        std::error_code ignored;
        respond(m_session, reply, ignored);
    }
    util::wipe(reply);
}

}  // namespace handler_reply
