// Feeds arbitrary bytes to the UTF-8 conversions of key-container passwords: valid text must
// survive the round trip byte for byte, anything else must be refused with range_error,
// never altered or shortened.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "system/cast.h"

namespace {

void check_narrow(const std::string& text) {
    std::wstring wide;
    try {
        wide = cast::to_wstring(text);
    } catch (const std::range_error&) {
        return;
    }
    for (const wchar_t c : wide) {
        const auto code = static_cast<std::uint32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            __builtin_trap();  // only whole code points are produced
        }
    }
    if (cast::to_string(wide) != text) {
        __builtin_trap();
    }
}

void check_wide(const std::wstring& wide) {
    std::string text;
    try {
        text = cast::to_string(wide);
    } catch (const std::range_error&) {
        return;
    }
    // Whatever was accepted must be valid UTF-8 that decodes back to the same characters.
    if (cast::to_wstring(text) != wide) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    check_narrow(std::string(reinterpret_cast<const char*>(data), size));
    std::wstring wide(size / sizeof(wchar_t), L'\0');
    if (!wide.empty()) {
        std::memcpy(wide.data(), data, wide.size() * sizeof(wchar_t));
    }
    check_wide(wide);
    return 0;
}
