#include "handlers/disk_control.h"

#include "database/serializer.h"
#include "system/wipe.h"

DiskControl::~DiskControl() {
    util::wipe(data);
}

DiskControl::bytes DiskControl::serialize() const {
    Serializer frame;
    frame.push_back(bytes(uuid.begin(), uuid.end()));
    frame.push_back(data);
    return frame.serialize();
}

void DiskControl::deserialize(const bytes& frame) {
    if (frame.empty()) {
        return;
    }
    Serializer items;
    items.deserialize(frame);
    const bytes text = items.pop_front();
    uuid.assign(text.begin(), text.end());
    util::wipe(data);
    data = items.pop_front();
}
