#include "client/ztctl/exit_status.h"

#include "client/client_error.h"
#include "crypto/crypto_error.h"
#include "session/network_error.h"
#include "session/transfer_error.h"

namespace ztctl {

namespace {

bool unreachable(const std::error_code& ec) {
    return ec.category() == network_category() || ec == client_error::bus_unavailable ||
           ec == client_error::service_not_running;
}

// Faults that show the session's keys are not shared with the service.
bool unproven(const std::error_code& ec) {
    return ec.category() == transfer_category() || ec.category() == crypto_category() ||
           ec == client_error::service_key_mismatch || ec == client_error::bad_pin_file;
}

}  // namespace

int exit_status(stage where, const std::error_code& ec, bool from_service) {
    if (!ec) {
        return kExitSuccess;
    }
    if (!from_service && unreachable(ec)) {
        return kExitUnreachable;
    }
    if (where == stage::setup) {
        return kExitAuthentication;
    }
    if (from_service) {
        return kExitRefused;
    }
    return unproven(ec) ? kExitAuthentication : kExitRefused;
}

}  // namespace ztctl
