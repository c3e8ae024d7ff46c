#include "database/admin_entry.h"

#include "system/cast.h"

namespace db {

AdminEntry::bytes AdminEntry::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector<std::uint64_t>(m_id));
    frame.push_back(cast::to_vector<std::int64_t>(m_creation_time));
    frame.push_back(cast::to_vector(m_name));
    frame.push_back(m_container);
    frame.push_back(m_public_key);
    frame.push_back(m_parameter);
    frame.push_back(m_symmetric_material);
    frame.push_back(m_hash);
    return frame.serialize();
}

void AdminEntry::deserialize(const bytes& data) {
    Serializer frame;
    frame.deserialize(data);
    m_id = cast::to_integer<std::uint64_t>(frame.pop_front());
    m_creation_time = cast::to_integer<std::int64_t>(frame.pop_front());
    m_name = cast::to_string(frame.pop_front());
    m_container = frame.pop_front();
    m_public_key = frame.pop_front();
    m_parameter = frame.pop_front();
    m_symmetric_material = frame.pop_front();
    m_hash = frame.pop_front();
}

entry_profile AdminEntry::profile() const {
    return entry_profile(m_name, m_id, entry_type::admin);
}

EntryInfo AdminEntry::info() const {
    return EntryInfo(m_name, m_id, m_creation_time, entry_type::admin);
}

}  // namespace db
