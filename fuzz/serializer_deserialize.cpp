// Frames arrive as request payloads from clients and as the decrypted database file. The
// framing and the records built on it must accept any bytes without reading past them, and
// what the framing accepts must re-encode to the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "database/admin_entry.h"
#include "database/disk_entry.h"
#include "database/entry_info.h"
#include "database/serializer.h"
#include "database/user_entry.h"
#include "system/cast.h"

namespace {

using bytes = std::vector<unsigned char>;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Decodes every item with each value encoding and as a nested frame, as record decoders do.
void decode_items(Serializer& frame, int depth) {
    while (!frame.empty()) {
        const bytes item = frame.pop_front();
        (void)cast::to_integer<std::uint64_t>(item);
        (void)cast::to_integer<std::int64_t>(item);
        (void)cast::to_integer<std::uint32_t>(item);
        (void)cast::to_integer<std::int32_t>(item);
        (void)cast::to_integer<std::uint16_t>(item);
        (void)cast::to_integer<bool>(item);
        check(cast::to_string(item).size() == item.size());
        if (depth < 3) {
            Serializer nested;
            nested.deserialize(item);
            decode_items(nested, depth + 1);
        }
    }
}

// A record decoded from arbitrary bytes and encoded again must decode to the same record.
template <typename Record>
void check_record_round_trip(const bytes& input) {
    Record first;
    first.deserialize(input);
    const bytes encoded = first.serialize();
    Record second;
    second.deserialize(encoded);
    check(second.serialize() == encoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bytes input(data, data + size);

    Serializer frame;
    frame.push_back(bytes{0x5A});
    frame.deserialize(input);
    if (input.size() <= 12) {
        check(frame.size() == 1);  // too short to decode: untouched
    } else if (!frame.empty()) {
        const bytes again = frame.serialize();
        check(again.size() <= input.size() &&
              std::equal(again.begin(), again.end(), input.begin()));
    }
    decode_items(frame, 0);

    check_record_round_trip<db::UserEntry>(input);
    check_record_round_trip<db::AdminEntry>(input);
    check_record_round_trip<db::DiskEntry>(input);
    check_record_round_trip<EntryInfo>(input);
    return 0;
}
