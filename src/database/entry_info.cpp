#include "database/entry_info.h"

#include "database/serializer.h"
#include "system/cast.h"

void EntryInfo::Extended::clear() noexcept {
    uuid.clear();
    path.clear();
    size = 0;
    status = DiskStateInfo::none;
}

EntryInfo::bytes EntryInfo::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector(name));
    frame.push_back(cast::to_vector<std::uint64_t>(id));
    frame.push_back(cast::to_vector<std::int64_t>(creation_time));
    frame.push_back(cast::to_vector<std::uint32_t>(static_cast<std::uint32_t>(type)));
    frame.push_back(cast::to_vector<bool>(extended));
    if (extended) {
        frame.push_back(cast::to_vector(ext.uuid));
        frame.push_back(cast::to_vector(ext.path));
        frame.push_back(cast::to_vector<std::uint64_t>(ext.size));
        frame.push_back(cast::to_vector<std::int64_t>(ext.creation_time));
        frame.push_back(cast::to_vector<std::int32_t>(static_cast<std::int32_t>(ext.status)));
    }
    return frame.serialize();
}

void EntryInfo::deserialize(const bytes& data) {
    Serializer frame;
    frame.deserialize(data);
    name = cast::to_string(frame.pop_front());
    id = cast::to_integer<std::uint64_t>(frame.pop_front());
    creation_time = cast::to_integer<std::int64_t>(frame.pop_front());
    type = static_cast<entry_type>(cast::to_integer<std::uint32_t>(frame.pop_front()));
    extended = cast::to_integer<bool>(frame.pop_front());
    if (extended) {
        ext.uuid = cast::to_string(frame.pop_front());
        ext.path = cast::to_string(frame.pop_front());
        ext.size = cast::to_integer<std::uint64_t>(frame.pop_front());
        ext.creation_time = cast::to_integer<std::int64_t>(frame.pop_front());
        ext.status = static_cast<DiskStateInfo>(cast::to_integer<std::int32_t>(frame.pop_front()));
    } else if (ext) {
        ext.clear();
    }
}
