#include "generalized_time.h"

#include <cstdint>
#include <cstdio>

namespace ztcrypto_detail {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (exact for every year).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

unsigned days_in_month(unsigned year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string format_generalized_time(std::time_t t) {
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) {
        return {};
    }
    const long year = static_cast<long>(tm.tm_year) + 1900;
    if (year < 1 || year > 9999) {
        return {};
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04ld%02d%02d%02d%02d%02dZ", year, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

std::optional<std::time_t> parse_generalized_time(const std::string& text) {
    if (text.size() != 15 || text[14] != 'Z') {
        return std::nullopt;
    }
    unsigned fields[6] = {};
    const unsigned widths[6] = {4, 2, 2, 2, 2, 2};
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        for (unsigned w = 0; w < widths[i]; ++w, ++pos) {
            const char c = text[pos];
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            fields[i] = fields[i] * 10 + static_cast<unsigned>(c - '0');
        }
    }
    const auto [year, month, day, hour, minute, second] = fields;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    const std::int64_t seconds = days_from_civil(year, month, day) * 86400 +
                                 static_cast<std::int64_t>(hour) * 3600 + minute * 60 + second;
    return static_cast<std::time_t>(seconds);
}

}  // namespace ztcrypto_detail
