// Flat packets arrive from clients (after decryption) and are decoded before anything else
// looks at them: decoding must never read past the input, and whatever it accepts must
// re-encode to exactly the bytes it came from.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <vector>

#include "session/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that any read past the input is caught by the sanitizer.
    const std::vector<unsigned char> input(data, data + size);
    std::error_code ec;
    const packet p = deserialize(input, ec);
    if (ec) {
        if (p || !p.data.empty()) {
            __builtin_trap();  // a failure must give the all-zero packet
        }
        return 0;
    }
    const std::vector<unsigned char> again =
        size == 16 ? serialize(p.header, p.metadata, p.status)
                   : serialize(p.header, p.metadata, p.status, p.data);
    if (again.size() > input.size() || !std::equal(again.begin(), again.end(), input.begin())) {
        __builtin_trap();
    }
    return 0;
}
