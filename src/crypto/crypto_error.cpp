#include "crypto/crypto_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {0x200, N_("Initialize error")},
    {0x201, N_("Crypto object not initialized")},
    {0x202, N_("Encryptor not created")},
    {0x203, N_("Encrypt failure")},
    {0x204, N_("Decrypt failure")},
    {0x205, N_("Import key material error")},
    {0x206, N_("Import public key error")},
    {0x207, N_("Export container error")},
    {0x208, N_("Export public key error")},
    {0x209, N_("Export key material error")},
    {0x20a, N_("Create symmetric algorithm error")},
    {0x20b, N_("Create encryptor error")},
    {0x20c, N_("Create random algorithm error")},
    {0x20d, N_("Generate random generator error")},
    {0x20e, N_("Set initialize vector error")},
    {0x20f, N_("Set private parameter error")},
    {0x210, N_("Hash algorithm initialize error")},
    {0x211, N_("Invalid password")},
    {0x212, N_("Initialization vector is empty")},
    {0x213, N_("Key manager isn't initialized")},
    {0x214, N_("Factory not initialized")},
    {0x215, N_("Internal structure not initialized")},
    {0x216, N_("Initialize sequence failed random check")},
    {0x217, N_("Sequence is empty")},
    {0x218, N_("Invalid container structure")},
    {0x219, N_("Undefined encoding length")},
    {0x21a, N_("Internal error")},
};

}  // namespace

const std::error_category& crypto_category() noexcept {
    static const foundation::table_category category("crypto", kMessages);
    return category;
}

std::error_code make_error_code(crypto_error e) noexcept {
    return {static_cast<int>(e), crypto_category()};
}

std::error_condition make_error_condition(crypto_error e) noexcept {
    return {static_cast<int>(e), crypto_category()};
}
