// Feeds arbitrary bytes to the key-container walk: it must end with a time or a structure
// error and never read outside the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/crypto_error.h"
#include "crypto/crypto_helper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end lands outside the allocation.
    const std::vector<std::uint8_t> container(data, data + size);
    std::error_code ec;
    const std::time_t t = crypto::extract_container_time(container, ec);
    if (ec && t != 0) {
        __builtin_trap();  // a failure must not come with a time
    }
    if (ec && ec != crypto_error::invalid_container && ec != crypto_error::undefined_length) {
        __builtin_trap();
    }
    return 0;
}
