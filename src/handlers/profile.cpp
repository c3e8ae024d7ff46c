#include "handlers/profile.h"

#include "database/serializer.h"

namespace Container {

Profile::bytes Profile::serialize() const {
    Serializer frame;
    frame.push_back(bytes(name.begin(), name.end()));
    frame.push_back(bytes(path.begin(), path.end()));
    return frame.serialize();
}

void Profile::deserialize(const bytes& data) {
    if (data.empty()) {
        return;
    }
    Serializer frame;
    frame.deserialize(data);
    const bytes first = frame.pop_front();
    const bytes second = frame.pop_front();
    name.assign(first.begin(), first.end());
    path.assign(second.begin(), second.end());
}

}  // namespace Container
