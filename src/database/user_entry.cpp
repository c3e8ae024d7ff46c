#include "database/user_entry.h"

#include "database/frame_view.h"
#include "system/cast.h"

namespace db {

bool UserEntry::encode_into(bytes& out) const {
    db::frame_writer frame(out);
    frame.integer<std::uint64_t>(m_id);
    frame.integer<std::int64_t>(m_creation_time);
    frame.item(m_name);
    const std::size_t disk = frame.begin_item();
    m_disk.encode_into(out);
    frame.end_item(disk);
    frame.item(m_container);
    frame.item(m_public_key);
    frame.item(m_parameter);
    frame.item(m_symmetric_material);
    frame.item(m_encrypted_key);
    frame.item(m_hash);
    return frame.finish();
}

std::size_t UserEntry::encoded_size() const {
    return frame_size({sizeof m_id, sizeof m_creation_time, m_name.size(), m_disk.encoded_size(),
                       m_container.size(), m_public_key.size(), m_parameter.size(),
                       m_symmetric_material.size(), m_encrypted_key.size(), m_hash.size()});
}

void UserEntry::decode(std::span<const unsigned char> data) {
    wipe_secrets();
    db::item_reader frame(data);
    m_id = cast::to_integer<std::uint64_t>(frame.next());
    m_creation_time = cast::to_integer<std::int64_t>(frame.next());
    m_name = frame.next_string();
    m_disk.decode(frame.next_view());
    m_container = frame.next();
    m_public_key = frame.next();
    m_parameter = frame.next();
    m_symmetric_material = frame.next();
    m_encrypted_key = frame.next();
    m_hash = frame.next();
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
