#include "client/ztctl/output.h"

#include <algorithm>

namespace ztctl {

namespace {

// The length of the well-formed UTF-8 sequence at text[at], or 0 when none starts there.
std::size_t utf8_sequence(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Columns a text takes on a terminal, counted as code points.
std::size_t display_width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

}  // namespace

nlohmann::ordered_json to_json(const result& r) {
    nlohmann::ordered_json object = {{"command", r.command}, {"ok", !r.error}};
    if (r.error) {
        object["error"] = {{"message", r.error.message()},
                           {"category", r.error.category().name()},
                           {"value", r.error.value()}};
    }
    for (const auto& [key, value] : r.fields.items()) {
        object[key] = value;
    }
    return object;
}

std::string aligned(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    for (const auto& [label, value] : rows) {
        cells.push_back({label, value});
    }
    return columns(cells);
}

std::string columns(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], display_width(row[i]));
        }
    }
    std::string text;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size()) {
                text.append(widths[i] - display_width(row[i]) + 2, ' ');
            }
        }
        text += '\n';
    }
    return text;
}

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence(text, i);
        const auto lead = static_cast<unsigned char>(text[i]);
        const bool control =
            lead < 0x20 || lead == 0x7F ||
            (lead == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (length == 0 || control) {
            out += '?';
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string error_line(const std::error_code& ec) {
    return "ztctl: " + ec.message() + " (" + ec.category().name() + " " +
           std::to_string(ec.value()) + ")";
}

void print(const result& r, const global_options& options, std::ostream& out, std::ostream& err) {
    if (options.json) {
        // Texts from the service may hold bytes that are no UTF-8; they are replaced rather
        // than making the output fail.
        out << to_json(r).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
            << '\n';
    } else if (!r.error && !options.quiet) {
        out << r.text;
    }
    if (r.error) {
        err << error_line(r.error) << '\n';
        if (!options.json) {
            err << r.text;
        }
    }
}

}  // namespace ztctl
