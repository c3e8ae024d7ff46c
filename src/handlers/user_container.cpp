#include "handlers/user_container.h"

#include <string>
#include <system_error>
#include <vector>

#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "dbus/reply_builder.h"
#include "foundation/defer.h"
#include "foundation/i18n.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"

namespace profile_manage_handler {

void get_container(transfer_session& session, Database& database) {
    std::error_code ec;
    std::vector<unsigned char> container;
    const auto reply = foundation::make_deferred([&] {
        if (ec) {
            handler_reply::fail(session, _("Unable to get a user container: %s"), ec);
            return;
        }
        std::error_code ignored;
        handler_reply::respond(
            session, reply_builder(reply_status_code::success, std::move(container)).obtain(),
            ignored);
    });

    const auto body = session.protocol().context()->receive(ec);
    if (ec) {
        return;
    }
    const std::string name(body.begin(), body.end());
    db::DatabaseEntry* entry = database.select_admin_entry(name);
    const bool admin = entry != nullptr;
    if (!admin) {
        entry = database.select_user_entry(name);
    }
    if (entry == nullptr) {
        ec = database_error::user_not_found;
        return;
    }
    if (session.is_opened()) {
        ec = ztctl_error::session_already_open;
        return;
    }
    session.set_role(admin);
    session.user_id(entry->get_id());
    container = entry->get_container();
}

}  // namespace profile_manage_handler
