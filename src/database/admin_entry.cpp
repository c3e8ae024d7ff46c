#include "database/admin_entry.h"

#include "database/frame_view.h"
#include "system/cast.h"

namespace db {

bool AdminEntry::encode_into(bytes& out) const {
    db::frame_writer frame(out);
    frame.integer<std::uint64_t>(m_id);
    frame.integer<std::int64_t>(m_creation_time);
    frame.item(m_name);
    frame.item(m_container);
    frame.item(m_public_key);
    frame.item(m_parameter);
    frame.item(m_symmetric_material);
    frame.item(m_hash);
    return frame.finish();
}

std::size_t AdminEntry::encoded_size() const {
    return frame_size({sizeof m_id, sizeof m_creation_time, m_name.size(), m_container.size(),
                       m_public_key.size(), m_parameter.size(), m_symmetric_material.size(),
                       m_hash.size()});
}

void AdminEntry::decode(std::span<const unsigned char> data) {
    wipe_secrets();
    db::item_reader frame(data);
    m_id = cast::to_integer<std::uint64_t>(frame.next());
    m_creation_time = cast::to_integer<std::int64_t>(frame.next());
    m_name = frame.next_string();
    m_container = frame.next();
    m_public_key = frame.next();
    m_parameter = frame.next();
    m_symmetric_material = frame.next();
    m_hash = frame.next();
}

entry_profile AdminEntry::profile() const {
    return entry_profile(m_name, m_id, entry_type::admin);
}

EntryInfo AdminEntry::info() const {
    return EntryInfo(m_name, m_id, m_creation_time, entry_type::admin);
}

}  // namespace db
