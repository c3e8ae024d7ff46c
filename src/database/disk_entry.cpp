#include "database/disk_entry.h"

#include "system/cast.h"

namespace db {

namespace {
constexpr std::size_t kUuidSize = 16;
}  // namespace

std::vector<unsigned char> uuid_to_bytes(const Uuid& uuid) {
    const auto raw = uuid.get();
    return std::vector<unsigned char>(raw.begin(), raw.end());
}

Uuid uuid_from_bytes(const std::vector<unsigned char>& item) {
    if (item.size() != kUuidSize) {
        return Uuid();
    }
    return Uuid(item);
}

DiskEntry::bytes DiskEntry::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector<std::uint64_t>(m_size));
    frame.push_back(cast::to_vector(m_path));
    frame.push_back(cast::to_vector(m_mount_directory));
    frame.push_back(cast::to_vector(m_fs));
    frame.push_back(uuid_to_bytes(m_guid));
    frame.push_back(m_hash);
    frame.push_back(cast::to_vector<std::int32_t>(static_cast<std::int32_t>(m_status)));
    frame.push_back(cast::to_vector<std::int64_t>(m_creation_time));
    return frame.serialize();
}

void DiskEntry::deserialize(const bytes& data) {
    Serializer frame;
    frame.deserialize(data);
    if (frame.empty()) {
        return;
    }
    m_size = cast::to_integer<std::uint64_t>(frame.pop_front());
    m_path = cast::to_string(frame.pop_front());
    m_mount_directory = cast::to_string(frame.pop_front());
    m_fs = cast::to_string(frame.pop_front());
    m_guid = uuid_from_bytes(frame.pop_front());
    m_hash = frame.pop_front();
    m_status = static_cast<DiskStateInfo>(cast::to_integer<std::int32_t>(frame.pop_front()));
    m_creation_time = cast::to_integer<std::int64_t>(frame.pop_front());
    check_status();
}

void DiskEntry::check_status() noexcept {
    if (m_status == DiskStateInfo::mounted) {
        m_status = DiskStateInfo::unmounted;
    }
}

}  // namespace db
