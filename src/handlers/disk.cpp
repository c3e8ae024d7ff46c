#include "handlers/disk.h"

#include "database/serializer.h"
#include "system/cast.h"

namespace Container {

Disk::bytes Disk::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector(user_name));
    frame.push_back(cast::to_vector(path));
    frame.push_back(cast::to_vector(fs));
    frame.push_back(cast::to_vector<std::uint64_t>(size));
    return frame.serialize();
}

void Disk::deserialize(const bytes& frame) {
    if (frame.empty()) {
        return;
    }
    Serializer items;
    items.deserialize(frame);
    user_name = cast::to_string(items.pop_front());
    path = cast::to_string(items.pop_front());
    fs = cast::to_string(items.pop_front());
    const bytes size_item = items.pop_front();
    size = cast::to_integer<std::uint64_t>(size_item);
}

}  // namespace Container
