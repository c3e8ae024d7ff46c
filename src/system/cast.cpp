#include "system/cast.h"

#include <cstring>
#include <stdexcept>

namespace cast {

namespace {

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool is_high_surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool is_low_surrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Reads one UTF-8 sequence at pos and advances past it. Truncated, overlong and surrogate
// sequences are refused: silently dropping or altering them would change a password.
char32_t read_utf8(const std::string& in, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(in[pos]);
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        c = lead & 0x1F;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        c = lead & 0x0F;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        c = lead & 0x07;
        min = 0x10000;
    } else {
        throw std::range_error("invalid UTF-8 lead byte");
    }
    if (in.size() - pos - 1 < extra) {
        throw std::range_error("truncated UTF-8 sequence");
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(in[pos + i]);
        if ((next & 0xC0) != 0x80) {
            throw std::range_error("invalid UTF-8 continuation byte");
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < min || c > kMaxCodePoint || (c >= 0xD800 && c <= 0xDFFF)) {
        throw std::range_error("invalid UTF-8 code point");
    }
    pos += extra + 1;
    return c;
}

}  // namespace

std::string to_string(const bytes& data) {
    return std::string(data.begin(), data.end());
}

bytes to_vector(const std::string& text) {
    return bytes(text.begin(), text.end());
}

bytes to_vector(const char* text) {
    if (text == nullptr) {
        return {};
    }
    return to_vector(static_cast<const void*>(text), std::strlen(text));
}

bytes to_vector(const void* data, std::size_t size) {
    if (data == nullptr || size == 0) {
        return {};
    }
    const auto* first = static_cast<const unsigned char*>(data);
    return bytes(first, first + size);
}

bytes to_vector(const std::wstring& text) {
    return to_vector(static_cast<const void*>(text.data()), text.size() * sizeof(wchar_t));
}

std::string to_string(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        if (is_high_surrogate(c) || is_low_surrogate(c) || c > kMaxCodePoint) {
            throw std::range_error("wide character outside Unicode");
        }
        append_utf8(out, c);
    }
    return out;
}

std::wstring to_wstring(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        out.push_back(static_cast<wchar_t>(read_utf8(text, pos)));
    }
    return out;
}

}  // namespace cast
