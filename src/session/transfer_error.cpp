#include "session/transfer_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {0x20000, N_("Initialize failure")},
    {0x20001, N_("Object not initialized")},
    {0x20002, N_("Current session not authorized")},
    {0x20003, N_("Session already established")},
    {0x20004, N_("Try establish non secured transfer_session")},
    {0x20005, N_("Try establish non authenticated transfer_session")},
    {0x20006, N_("Try establish authenticated transfer_session")},
    {0x20007, N_("Session not established")},
    {0x20008, N_("Session not secured")},
    {0x20009, N_("Session is already authenticated")},
    {0x2000a, N_("Protocol id has invalid type")},
    {0x2000b, N_("Bad header")},
    {0x2000c, N_("Bad metadata")},
    {0x2000d, N_("Bad status")},
    {0x2000e, N_("Method not confirmed")},
    {0x2000f, N_("Bad data format")},
    {0x20010, N_("Invalid argument")},
    {0x20011, N_("Invalid start condition")},
    {0x20012, N_("Invalid setup phase")},
    {0x20013, N_("Crypto service isn't ready")},
    {0x20014, N_("Data corrupted")},
};

}  // namespace

const std::error_category& transfer_category() noexcept {
    static const foundation::table_category category("transfer", kMessages);
    return category;
}

std::error_code make_error_code(transfer_error e) noexcept {
    return {static_cast<int>(e), transfer_category()};
}

std::error_condition make_error_condition(transfer_error e) noexcept {
    return {static_cast<int>(e), transfer_category()};
}
