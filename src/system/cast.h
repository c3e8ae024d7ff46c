#pragma once

#include <climits>
#include <concepts>
#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

// Conversions between values and the byte strings that payloads, records and the database
// file carry. Integers are always little-endian, whatever the host's byte order, so that
// stored files and peers on other machines read the same bytes.
namespace cast {

using bytes = std::vector<unsigned char>;

// Encodes value as sizeof(T) bytes, least significant first (bool: one byte, 0 or 1).
template <std::integral T>
bytes to_vector(T value) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_same_v<T, bool>, unsigned char, T>>;
    U bits = static_cast<U>(value);
    bytes out(sizeof(T));
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out[i] = static_cast<unsigned char>(bits & 0xFFu);
        bits = static_cast<U>(bits >> CHAR_BIT);
    }
    return out;
}

// Decodes a little-endian integer of exactly sizeof(T) bytes; any other length reads as 0
// (false for bool, where any non-zero byte is true).
template <std::integral T>
T to_integer(const bytes& data) {
    if (data.size() != sizeof(T)) {
        return T{};
    }
    if constexpr (std::is_same_v<T, bool>) {
        return data[0] != 0;
    } else {
        using U = std::make_unsigned_t<T>;
        U bits = 0;
        for (std::size_t i = sizeof(T); i-- > 0;) {
            bits = static_cast<U>(static_cast<U>(bits << CHAR_BIT) | data[i]);
        }
        return static_cast<T>(bits);
    }
}

// The bytes as characters, embedded zero bytes included; no character-set conversion.
std::string to_string(const bytes& data);

// The raw bytes of the string, without terminator or length.
bytes to_vector(const std::string& text);

// The bytes of a NUL-terminated string up to (not including) the terminator; null gives none.
bytes to_vector(const char* text);

// A copy of size raw bytes starting at data; null data or size 0 gives none.
bytes to_vector(const void* data, std::size_t size);

// The raw bytes of the wide characters, sizeof(wchar_t) bytes each in host order.
bytes to_vector(const std::wstring& text);

// UTF-8 encoding of a wide string of whole Unicode code points, one per wchar_t (the form
// the crypto provider takes passwords in). Throws std::range_error on a surrogate value or a
// value beyond U+10FFFF: those are no characters.
std::string to_string(const std::wstring& text);

// Decodes UTF-8 into whole code points, one per wchar_t, the form to_string reads back.
// Throws std::range_error on invalid UTF-8, including truncated, overlong and surrogate
// sequences, rather than dropping or altering any part of the text.
std::wstring to_wstring(const std::string& text);

}  // namespace cast
