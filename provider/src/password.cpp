#include "password.h"

#include <cstdint>

#include "ztcrypto/exception.h"

namespace ztcrypto_detail {

Secret password_utf8(const std::wstring& password, const char* method) {
    std::size_t length = 0;
    for (wchar_t wc : password) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            throw InvalidArgumentException("password", method,
                                           "contains a character that is not Unicode");
        }
        length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    Secret out(length);
    std::uint8_t* p = out.data();
    for (wchar_t wc : password) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            *p++ = static_cast<std::uint8_t>(c);
        } else if (c < 0x800) {
            *p++ = static_cast<std::uint8_t>(0xC0 | (c >> 6));
            *p++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *p++ = static_cast<std::uint8_t>(0xE0 | (c >> 12));
            *p++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        } else {
            *p++ = static_cast<std::uint8_t>(0xF0 | (c >> 18));
            *p++ = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace ztcrypto_detail
