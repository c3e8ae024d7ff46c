#include "client/ztctl/output.h"

#include <algorithm>

namespace ztctl {

nlohmann::ordered_json to_json(const result& r) {
    nlohmann::ordered_json object = {{"command", r.command}, {"ok", !r.error}};
    if (r.error) {
        object["error"] = {{"message", r.error.message()},
                           {"category", r.error.category().name()},
                           {"value", r.error.value()}};
        return object;
    }
    for (const auto& [key, value] : r.fields.items()) {
        object[key] = value;
    }
    return object;
}

std::string aligned(const std::vector<std::pair<std::string, std::string>>& rows) {
    std::size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.first.size());
    }
    std::string text;
    for (const auto& [label, value] : rows) {
        text += label;
        text.append(width - label.size() + 2, ' ');
        text += value;
        text += '\n';
    }
    return text;
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
    }
}

}  // namespace ztctl
