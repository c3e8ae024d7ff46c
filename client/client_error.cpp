#include "client/client_error.h"

#include "foundation/error_category.h"
#include "foundation/i18n.h"

namespace {

constexpr foundation::error_message kMessages[] = {
    {0, N_("Success")},
    {1, N_("Cannot connect to the system bus")},
    {2, N_("The service is not running")},
    {3, N_("Wrong password")},
    {4, N_("The account's key container is damaged")},
    {5, N_("The service's keys differ from the pinned keys")},
    {6, N_("The service refused to set up the session")},
    {7, N_("Unexpected answer from the service")},
    {8, N_("Malformed reply from the service")},
    {9, N_("The service failed without giving a reason")},
    {10, N_("The session is not open")},
    {11, N_("The pinned service keys cannot be read")},
    {12, N_("No password was given")},
    {13, N_("The key store could not be made")},
    {14, N_("The account's disk key does not open")},
    {15, N_("The passwords do not match")},
};

}  // namespace

const std::error_category& client_category() noexcept {
    static const foundation::table_category category("client", kMessages);
    return category;
}

std::error_code make_error_code(client_error e) noexcept {
    return {static_cast<int>(e), client_category()};
}

std::error_condition make_error_condition(client_error e) noexcept {
    return {static_cast<int>(e), client_category()};
}
