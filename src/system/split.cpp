#include "system/split.h"

#include <string_view>

namespace util {

namespace {

// Cuts text the way repeated std::getline calls would (no empty last piece after a final
// delimiter), stopping early when max pieces are reached.
std::vector<std::string> cut(const std::string& text, std::string_view delimiter, std::size_t max) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t found =
            max != 0 && pieces.size() + 1 == max ? std::string::npos : text.find(delimiter, start);
        if (found == std::string::npos) {
            pieces.push_back(text.substr(start));
            break;
        }
        pieces.push_back(text.substr(start, found - start));
        start = found + delimiter.size();
    }
    return pieces;
}

}  // namespace

std::vector<std::string> split(const std::string& text, char delimiter) {
    return split(text, delimiter, 0);
}

std::vector<std::string> split(const std::string& text, char delimiter, std::size_t max) {
    return cut(text, std::string_view(&delimiter, 1), max);
}

std::vector<std::string> split(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) {
        return text.empty() ? std::vector<std::string>{} : std::vector<std::string>{text};
    }
    return cut(text, delimiter, 0);
}

}  // namespace util
