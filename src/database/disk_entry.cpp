#include "database/disk_entry.h"

#include "database/frame_view.h"
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
    bytes out;
    out.reserve(encoded_size());
    encode_into(out);
    return out;
}

void DiskEntry::encode_into(bytes& out) const {
    frame_writer frame(out);
    frame.integer<std::uint64_t>(m_size);
    frame.item(m_path);
    frame.item(m_mount_directory);
    frame.item(m_fs);
    frame.item(uuid_to_bytes(m_guid));
    frame.item(m_hash);
    frame.integer<std::int32_t>(static_cast<std::int32_t>(m_status));
    frame.integer<std::int64_t>(m_creation_time);
    frame.finish();
}

std::size_t DiskEntry::encoded_size() const {
    return frame_size({sizeof m_size, m_path.size(), m_mount_directory.size(), m_fs.size(),
                       kUuidSize, m_hash.size(), sizeof(std::int32_t), sizeof m_creation_time});
}

void DiskEntry::deserialize(const bytes& data) {
    decode(data);
}

void DiskEntry::decode(std::span<const unsigned char> data) {
    item_reader frame(data);
    if (frame.empty()) {
        return;
    }
    m_size = cast::to_integer<std::uint64_t>(frame.next());
    m_path = frame.next_string();
    m_mount_directory = frame.next_string();
    m_fs = frame.next_string();
    m_guid = uuid_from_bytes(frame.next());
    m_hash = frame.next();
    m_status = static_cast<DiskStateInfo>(cast::to_integer<std::int32_t>(frame.next()));
    m_creation_time = cast::to_integer<std::int64_t>(frame.next());
    check_status();
}

void DiskEntry::check_status() noexcept {
    if (m_status == DiskStateInfo::mounted) {
        m_status = DiskStateInfo::unmounted;
    }
}

}  // namespace db
