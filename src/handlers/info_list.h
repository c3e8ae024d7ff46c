#pragma once

#include <vector>

#include "database/frame_writer.h"

namespace handler_entry {

// Adds one info record frame per entry, in the given order, to the frame open in out.
template <typename Entry>
void add_info_records(frame_writer& out, const std::vector<Entry*>& entries) {
    for (const Entry* entry : entries) {
        out.add(entry->info().serialize());
    }
}

// Adds a frame of one info record frame per entry to the frame open in out.
template <typename Entry>
void add_info_list(frame_writer& out, const std::vector<Entry*>& entries) {
    out.begin_frame();
    add_info_records(out, entries);
    out.end_frame();
}

}  // namespace handler_entry
