#include "system/loop_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace sys {

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {0x8000, N_("Backing file not set")},
    {0x8001, N_("Device number not set")},
    {0x8002, N_("Device number not valid")},
    {0x8003, N_("Device name not valid")},
    {0x8004, N_("Device is busy")},
    {0x8005, N_("Device is free")},
};

class LoopCategory final : public foundation::table_category {
  public:
    constexpr LoopCategory() noexcept : table_category("loop device", kMessages) {}
};

}  // namespace

const std::error_category& make_loop_category() noexcept {
    static const LoopCategory category;
    return category;
}

std::error_code make_error_code(LoopError e) noexcept {
    return {static_cast<int>(e), make_loop_category()};
}

std::error_condition make_error_condition(LoopError e) noexcept {
    return {static_cast<int>(e), make_loop_category()};
}

}  // namespace sys
