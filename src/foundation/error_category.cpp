#include "foundation/error_category.h"

#include "foundation/i18n.h"

namespace foundation {

std::string table_message(std::span<const error_message> table, int value) {
    for (const auto& row : table) {
        if (row.value == value) {
            return translate(row.text);
        }
    }
    return std::string(translate("Unknown error: ")) + std::to_string(value);
}

}  // namespace foundation
