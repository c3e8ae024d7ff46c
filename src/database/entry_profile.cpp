#include "database/entry_profile.h"

#include "database/serializer.h"
#include "system/cast.h"

entry_profile::bytes entry_profile::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector(name));
    frame.push_back(cast::to_vector<std::uint64_t>(id));
    frame.push_back(cast::to_vector<std::uint32_t>(static_cast<std::uint32_t>(type)));
    return frame.serialize();
}

void entry_profile::desiarialize(const bytes& data) {
    Serializer frame;
    frame.deserialize(data);
    name = cast::to_string(frame.pop_front());
    id = cast::to_integer<std::uint64_t>(frame.pop_front());
    type = static_cast<entry_type>(cast::to_integer<std::uint32_t>(frame.pop_front()));
}
