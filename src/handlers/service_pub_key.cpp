#include "handlers/service_pub_key.h"

#include <system_error>

#include "crypto/crypto_error.h"
#include "dbus/reply_builder.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"

namespace key_manage_handler {

void get_service_public_key(transfer_session_safe& session, Database& database) {
    std::error_code ec;
    auto key = database.crypto_service().get_public_key(ec);
    if (key.empty()) {
        if (!ec) {
            ec = crypto_error::not_initialized;
        }
        handler_reply::fail(session, _("Unable to retrieve the public key: %s"), ec);
        return;
    }
    // The key is public: a session that cannot carry the reply yet gets it in the clear.
    handler_reply::respond_or_clear(
        session, reply_builder(reply_status_code::success, std::move(key)).obtain(), ec);
}

}  // namespace key_manage_handler
