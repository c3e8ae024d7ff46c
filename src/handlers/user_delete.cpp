#include "handlers/user_delete.h"

#include "daemon/ztctl_error.h"
#include "foundation/i18n.h"
#include "handlers/log_subject.h"
#include "handlers/profile.h"
#include "handlers/respond.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"

namespace user_handler {

void delete_user(transfer_session_safe& session, Database& database) {
    handler_reply::reply_guard guard(session, _("Unable to delete a user: %s"));
    if (!session.is_opened() || !session.is_accessed()) {
        guard.ec = ztctl_error::session_not_open_or_unsafe;
        return;
    }
    const auto body = session.protocol().context()->receive(guard.ec);
    if (guard.ec) {
        return;
    }
    Container::Profile profile;
    profile.deserialize(body);
    const db::UserEntry* user = database.select_user_entry(profile.name);
    if (user == nullptr) {
        guard.ec = ztctl_error::user_not_exist;
        return;
    }
    handler_log::log_subject(*user);
    const auto id = user->get_id();
    if (!database.delete_user_entry(profile.name, guard.ec)) {
        return;
    }
    database.id_manager().release_id(id);
}

}  // namespace user_handler
