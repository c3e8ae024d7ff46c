#include "handlers/log_subject.h"

#include "logging/log_fields.h"

namespace handler_log {

void log_subject(const db::UserEntry& user) {
    ztl::LogFields::set(ztl::log_field::user, user.name());
    const Uuid& uuid = user.disk().guid();
    ztl::LogFields::set(ztl::log_field::disk_uuid, uuid.is_null() ? std::string() : uuid.str());
}

}  // namespace handler_log
