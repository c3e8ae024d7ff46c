#include "client/ztctl/account_records.h"

#include <cstdint>
#include <span>

#include "database/frame_view.h"

namespace ztctl {

namespace {

using bytes = std::vector<unsigned char>;
using items = std::vector<std::span<const unsigned char>>;

constexpr std::size_t kBasicItems = 5;
constexpr std::size_t kExtendedItems = 10;

// The items of a frame whose declared body is exactly the rest of it (replies are never
// padded) and fills it with whole items; false for anything else.
bool frame_of(std::span<const unsigned char> frame, items& out) {
    if (frame.size() < db::frame_header_size) {
        return false;
    }
    std::uint64_t body = 0;
    for (std::size_t i = db::frame_header_size; i-- > 0;) {
        body = (body << 8) | frame[i];
    }
    if (body != frame.size() - db::frame_header_size) {
        return false;
    }
    out = db::frame_items(frame);
    return body == 0 || !out.empty();
}

bool sized(const items& list, std::initializer_list<std::pair<std::size_t, std::size_t>> sizes) {
    for (const auto& [index, size] : sizes) {
        if (list[index].size() != size) {
            return false;
        }
    }
    return true;
}

bool known_type(std::span<const unsigned char> item) {
    const auto type = static_cast<entry_type>(item[0] | item[1] << 8 | item[2] << 16 |
                                              static_cast<std::uint32_t>(item[3]) << 24);
    return type == entry_type::admin || type == entry_type::user;
}

}  // namespace

bool decode_info(const bytes& frame, EntryInfo& out) {
    items list;
    if (!frame_of(frame, list) || list.size() < kBasicItems ||
        !sized(list, {{1, 8}, {2, 8}, {3, 4}, {4, 1}}) || !known_type(list[3]) || list[4][0] > 1) {
        return false;
    }
    const bool extended = list[4][0] == 1;
    if (list.size() != (extended ? kExtendedItems : kBasicItems) ||
        (extended && !sized(list, {{7, 8}, {8, 8}, {9, 4}}))) {
        return false;
    }
    EntryInfo info;
    info.deserialize(frame);
    if (extended && (static_cast<std::int32_t>(info.ext.status) < 0 ||
                     info.ext.status > DiskStateInfo::unmounted)) {
        return false;
    }
    out = std::move(info);
    return true;
}

bool decode_info_list(const bytes& frame, std::vector<EntryInfo>& out) {
    items list;
    if (!frame_of(frame, list)) {
        return false;
    }
    std::vector<EntryInfo> entries;
    entries.reserve(list.size());
    for (const auto& item : list) {
        EntryInfo info;
        if (!decode_info(bytes(item.begin(), item.end()), info)) {
            return false;
        }
        entries.push_back(std::move(info));
    }
    out = std::move(entries);
    return true;
}

bool decode_account_lists(const bytes& frame, std::vector<EntryInfo>& users,
                          std::vector<EntryInfo>& admins) {
    items list;
    std::vector<EntryInfo> u;
    std::vector<EntryInfo> a;
    if (!frame_of(frame, list) || list.size() != 2 ||
        !decode_info_list(bytes(list[0].begin(), list[0].end()), u) ||
        !decode_info_list(bytes(list[1].begin(), list[1].end()), a)) {
        return false;
    }
    users = std::move(u);
    admins = std::move(a);
    return true;
}

bool decode_profile(const bytes& frame, entry_profile& out) {
    items list;
    if (!frame_of(frame, list) || list.size() != 3 || !sized(list, {{1, 8}, {2, 4}}) ||
        !known_type(list[2])) {
        return false;
    }
    out.desiarialize(frame);
    return true;
}

std::string role_name(entry_type type) {
    return type == entry_type::admin ? "admin" : "user";
}

std::string disk_state_name(DiskStateInfo state) {
    switch (state) {
        case DiskStateInfo::none:
            return "none";
        case DiskStateInfo::created:
            return "created";
        case DiskStateInfo::mounted:
            return "mounted";
        case DiskStateInfo::unmounted:
            return "unmounted";
    }
    return "none";
}

}  // namespace ztctl
