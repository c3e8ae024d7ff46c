// The decrypted database body: sections read in place, entries decoded from them. Any
// bytes must decode without reading past them; what was decoded must survive a save and a
// load of the body; and the in-place frame reader must split exactly as the Serializer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "database/database.h"
#include "database/frame_view.h"
#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void check_same_split(const bytes& frame) {
    Serializer s;
    s.deserialize(frame);
    const auto views = db::frame_items(frame);
    check(views.size() == s.size());
    for (std::size_t i = 0; i < views.size(); ++i) {
        check(bytes(views[i].begin(), views[i].end()) == s[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes input(data, data + size);
    check_same_split(input);

    Database first;
    first.deserialize(bytes(input));
    Database second;
    const bytes body = first.serialize();
    check(second.deserialize(bytes(body)));
    check(second.get_user_list().size() == first.get_user_list().size());
    check(second.get_admin_list().size() == first.get_admin_list().size());
    for (const auto* user : first.get_user_list()) {
        const auto* again = second.select_user_entry(user->get_id());
        check(again != nullptr && again->serialize() == user->serialize());
    }
    for (const auto* admin : first.get_admin_list()) {
        const auto* again = second.select_admin_entry(admin->get_id());
        check(again != nullptr && again->serialize() == admin->serialize());
    }
    check(second.id_manager().next_id() == first.id_manager().next_id());
    return 0;
}
