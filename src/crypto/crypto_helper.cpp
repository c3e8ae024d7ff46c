#include "crypto/crypto_helper.h"

#include <time.h>

#include <cstdio>
#include <string>

#include "crypto/crypto_error.h"

namespace crypto {

namespace {

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kObjectId = 0x06;
constexpr std::uint8_t kGeneralizedTime = 0x18;
// Lengths are kept in 32 bits; a longer length field cannot describe a real container.
constexpr unsigned kMaxLengthBytes = 4;

// Runs the walk's plain step count times.
bool steps(der_cursor& cursor, int count, der_header& last, std::error_code& ec) {
    for (int i = 0; i < count; ++i) {
        if (!skip_tag_02_06(cursor, last, ec)) {
            return false;
        }
    }
    return true;
}

bool steps(der_cursor& cursor, int count, std::error_code& ec) {
    der_header ignored;
    return steps(cursor, count, ignored, ec);
}

}  // namespace

bool move_pointer(der_cursor& cursor, der_header& header, std::error_code& ec) {
    const std::uint8_t* p = cursor.pos;
    if (p == nullptr || cursor.end - p < 2) {
        ec = crypto_error::invalid_container;
        return false;
    }
    const std::uint8_t tag = p[0];
    const std::uint8_t first = p[1];
    p += 2;
    std::uint64_t length = first;
    if (first == 0x80) {
        ec = crypto_error::undefined_length;
        return false;
    }
    if (first > 0x80) {
        const unsigned count = first - 0x80u;
        if (count > kMaxLengthBytes) {
            ec = crypto_error::undefined_length;
            return false;
        }
        if (static_cast<std::size_t>(cursor.end - p) < count) {
            ec = crypto_error::invalid_container;
            return false;
        }
        length = 0;
        for (unsigned i = 0; i < count; ++i) {
            length = (length << 8) | p[i];
        }
        p += count;
    }
    if (length > static_cast<std::uint64_t>(cursor.end - p)) {
        ec = crypto_error::invalid_container;
        return false;
    }
    header.tag = tag;
    header.content = p;
    header.content_end = p + length;
    cursor.pos = p;
    ec.clear();
    return true;
}

bool skip_tag_02_06(der_cursor& cursor, der_header& header, std::error_code& ec) {
    if (!move_pointer(cursor, header, ec)) {
        return false;
    }
    if (header.tag == kInteger || header.tag == kObjectId) {
        cursor.pos = header.content_end;
    }
    return true;
}

bool skip_and_check_tag(der_cursor& cursor, std::uint8_t tag, bool skip, std::error_code& ec) {
    der_cursor probe = cursor;
    der_header header;
    if (!move_pointer(probe, header, ec)) {
        return false;
    }
    if (header.tag != tag) {
        ec = crypto_error::invalid_container;
        return false;
    }
    cursor.pos = skip ? header.content_end : header.content;
    ec.clear();
    return true;
}

std::pair<bool, std::uint32_t> parse_gost_part(const std::uint8_t* p, const std::uint8_t* end,
                                               std::error_code& ec) {
    const std::pair<bool, std::uint32_t> failed{false, 0};
    der_cursor cursor{p, end};
    der_header last;
    if (!steps(cursor, 8, ec) || !skip_and_check_tag(cursor, kObjectId, true, ec) ||
        !steps(cursor, 1, ec) || !skip_and_check_tag(cursor, kOctetString, true, ec) ||
        !skip_and_check_tag(cursor, kInteger, true, ec) || !steps(cursor, 1, ec) ||
        !skip_and_check_tag(cursor, kObjectId, true, ec) || !steps(cursor, 2, ec) ||
        !skip_and_check_tag(cursor, kObjectId, true, ec) || !steps(cursor, 2, last, ec)) {
        return failed;
    }
    // The last step entered the wrapped private key; step over its content.
    if (last.tag != kOctetString) {
        ec = crypto_error::invalid_container;
        return failed;
    }
    cursor.pos = last.content_end;
    if (!skip_and_check_tag(cursor, kOctetString, true, ec)) {
        return failed;
    }
    der_header outer;
    der_header inner;
    if (!move_pointer(cursor, outer, ec) || !move_pointer(cursor, inner, ec)) {
        return failed;
    }
    const auto offset = static_cast<std::uint64_t>(inner.content_end - p);
    if (offset > 0xFFFFFFFFu) {
        ec = crypto_error::undefined_length;
        return failed;
    }
    ec.clear();
    return {true, static_cast<std::uint32_t>(offset)};
}

std::time_t parse_time(std::string_view text, std::error_code& ec) {
    // sscanf needs a terminated string; the element content is not terminated.
    const std::string digits(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const int read = std::sscanf(digits.c_str(), "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour,
                                 &minute, &second);
    if (read <= 0) {
        ec = crypto_error::invalid_container;
        return 0;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    ec.clear();
    // The stored time is UTC (the "Z" form), whatever zone the daemon runs in.
    return ::timegm(&tm);
}

std::time_t extract_container_time(const std::vector<std::uint8_t>& container,
                                   std::error_code& ec) {
    const std::uint8_t* begin = container.data();
    const std::uint8_t* end = begin + container.size();
    der_cursor cursor{begin, end};
    der_header header;
    if (!move_pointer(cursor, header, ec)) {
        return 0;
    }
    // Everything below stays inside the outer element.
    cursor.end = header.content_end;
    if (!steps(cursor, 12, ec)) {
        return 0;
    }
    const auto [parsed, offset] = parse_gost_part(cursor.pos, cursor.end, ec);
    if (!parsed) {
        return 0;
    }
    cursor.pos += offset;
    if (!steps(cursor, 4, ec) || !skip_and_check_tag(cursor, kOctetString, true, ec) ||
        !steps(cursor, 2, ec) || !skip_and_check_tag(cursor, kObjectId, true, ec) ||
        !steps(cursor, 3, ec)) {
        return 0;
    }
    der_cursor time_cursor = cursor;
    der_header time;
    if (!move_pointer(time_cursor, time, ec)) {
        return 0;
    }
    if (time.tag != kGeneralizedTime) {
        ec = crypto_error::invalid_container;
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(time.content),
                                static_cast<std::size_t>(time.content_end - time.content));
    return parse_time(text, ec);
}

}  // namespace crypto
