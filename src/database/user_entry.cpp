#include "database/user_entry.h"

#include "system/cast.h"

namespace db {

UserEntry::bytes UserEntry::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector<std::uint64_t>(m_id));
    frame.push_back(cast::to_vector<std::int64_t>(m_creation_time));
    frame.push_back(cast::to_vector(m_name));
    frame.push_back(m_disk.serialize());
    frame.push_back(m_container);
    frame.push_back(m_public_key);
    frame.push_back(m_parameter);
    frame.push_back(m_symmetric_material);
    frame.push_back(m_encrypted_key);
    frame.push_back(m_hash);
    return frame.serialize();
}

void UserEntry::deserialize(const bytes& data) {
    Serializer frame;
    frame.deserialize(data);
    m_id = cast::to_integer<std::uint64_t>(frame.pop_front());
    m_creation_time = cast::to_integer<std::int64_t>(frame.pop_front());
    m_name = cast::to_string(frame.pop_front());
    m_disk.deserialize(frame.pop_front());
    m_container = frame.pop_front();
    m_public_key = frame.pop_front();
    m_parameter = frame.pop_front();
    m_symmetric_material = frame.pop_front();
    m_encrypted_key = frame.pop_front();
    m_hash = frame.pop_front();
}

entry_profile UserEntry::profile() const {
    return entry_profile(m_name, m_id, entry_type::user);
}

EntryInfo UserEntry::info() const {
    if (m_disk.guid().is_null()) {
        return EntryInfo(m_name, m_id, m_creation_time, entry_type::user);
    }
    EntryInfo::Extended disk;
    disk.uuid = m_disk.guid().str();
    disk.path = m_disk.get_path();
    disk.size = m_disk.get_size();
    disk.creation_time = m_disk.get_creation_time();
    disk.status = m_disk.get_status();
    return EntryInfo(m_name, m_id, m_creation_time, entry_type::user, std::move(disk));
}

}  // namespace db
