#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

// Reads the creation time out of a DER key container by a fixed walk over its elements.
// The walk never reads outside [begin, end): a header or content that would run past the end
// of the container fails with "Invalid container structure", a length it cannot represent
// (indefinite, or more than four length bytes) with "Undefined encoding length".
namespace crypto {

// A position inside a DER buffer; end is one past the last byte the walk may read.
struct der_cursor {
    const std::uint8_t* pos;
    const std::uint8_t* end;
};

// What a header read found: the element's tag and where its content starts and ends.
struct der_header {
    std::uint8_t tag = 0;
    const std::uint8_t* content = nullptr;
    const std::uint8_t* content_end = nullptr;
};

// Reads the tag and length at the cursor and moves the cursor to the content start.
// On failure returns false with ec set and leaves the cursor where it was.
bool move_pointer(der_cursor& cursor, der_header& header, std::error_code& ec);

// One step of the walk: reads a header, then skips an INTEGER (0x02) or OBJECT IDENTIFIER
// (0x06) element and enters any other. header receives what was read.
bool skip_tag_02_06(der_cursor& cursor, der_header& header, std::error_code& ec);

// Reads a header whose tag must be tag ("Invalid container structure" otherwise) and leaves
// the cursor at its content start, or at its content end when skip is true.
bool skip_and_check_tag(der_cursor& cursor, std::uint8_t tag, bool skip, std::error_code& ec);

// Walks the key-agreement key starting at p (its SEQUENCE header) up to the first element of
// the asymmetric key. Returns (true, offset of the end of that element counted from p), or
// (false, 0) with ec set.
std::pair<bool, std::uint32_t> parse_gost_part(const std::uint8_t* p, const std::uint8_t* end,
                                               std::error_code& ec);

// Converts the digits YYYYMMDDhhmmss, a UTC time, to seconds since the epoch. Fields that
// cannot be read stay 0; when not even the year can be read, returns 0 with
// "Invalid container structure".
std::time_t parse_time(std::string_view text, std::error_code& ec);

// Returns the creation time stored in a key container, in seconds since the epoch, or 0 with
// ec set when the container does not have the expected structure.
std::time_t extract_container_time(const std::vector<std::uint8_t>& container, std::error_code& ec);

}  // namespace crypto
