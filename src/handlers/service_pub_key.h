#pragma once

#include "database/database.h"
#include "session/transfer_session_safe.h"

namespace key_manage_handler {

// "GetPublicKey": the service's public key as the provider exports it, in any session
// state (without a transfer context, in the clear form of the unsafe context); the request
// body is not read. No key: the error reply of the crypto manager.
void get_service_public_key(transfer_session_safe& session, Database& database);

}  // namespace key_manage_handler
