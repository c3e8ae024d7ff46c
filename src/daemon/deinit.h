#pragma once

#include "session/transfer_session_safe.h"

namespace service_handler {

// Removes "database.bin" and then "service.bin" from the configured service directory and
// answers the call: success, or the error reply of the first failure (a missing
// "database.bin" keeps "service.bin"). Nothing else is removed.
void deinit_handler(transfer_session_safe& session);

}  // namespace service_handler
