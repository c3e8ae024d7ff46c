#include "system/cryx_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {0x4000, N_("Cryx device name isn't set")},
    {0x4001, N_("Managed device name isn't set")},
};

class cryx_category final : public foundation::table_category {
  public:
    constexpr cryx_category() noexcept : table_category("cryx device", kMessages) {}
};

}  // namespace

const std::error_category& make_cryx_category() noexcept {
    static const cryx_category category;
    return category;
}

std::error_code make_error_code(cryx_error e) noexcept {
    return {static_cast<int>(e), make_cryx_category()};
}

std::error_condition make_error_condition(cryx_error e) noexcept {
    return {static_cast<int>(e), make_cryx_category()};
}
