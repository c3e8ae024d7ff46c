#include "system/join.h"

namespace util {

std::string join(const std::vector<std::string>& pieces, char delimiter) {
    std::string text;
    for (const auto& piece : pieces) {
        if (&piece != &pieces.front()) {
            text.push_back(delimiter);
        }
        text += piece;
    }
    return text;
}

}  // namespace util
