#pragma once

#include <vector>

#include "database/serializer.h"

namespace handler_entry {

// A frame of one info record frame per entry, in the given order.
template <typename Entry>
std::vector<unsigned char> info_list(const std::vector<Entry*>& entries) {
    Serializer list;
    for (const Entry* entry : entries) {
        list.push_back(entry->info().serialize());
    }
    return list.serialize();
}

}  // namespace handler_entry
