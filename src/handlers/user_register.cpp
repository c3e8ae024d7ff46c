#include "handlers/user_register.h"

#include <string>

#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"

namespace user_handler {

void is_user_registered(transfer_session_safe& session, Database& database) {
    std::error_code ec;
    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        handler_reply::fail(session, _("Unable to check user registration: %s"), ec);
        return;
    }
    const std::string name(body.begin(), body.end());
    const auto answer = database.is_user_entry(name) ? reply_status_code::true_value
                                                     : reply_status_code::false_value;
    std::error_code ignored;
    handler_reply::respond(session, reply_builder(answer).obtain(), ignored);
}

}  // namespace user_handler
