#pragma once

#include <string>
#include <system_error>

#include "client/session.h"
#include "ztcrypto/raw_memory.h"

namespace client {

// The disk key of account, for a mount on own, the account's encrypted session: the sealed
// key of its symmetric material ("GetSymmetricMaterial" on own) opened with its key container
// ("GetContainer" on a clear session of a connection of its own, made with options) and
// password. An empty block with the reason on failure; from_service then tells whether the
// service refused a request (its error) or the fault was found here.
RawMemoryDefault fetch_disk_key(session& own, const session_options& options,
                                const std::string& account, const std::wstring& password,
                                std::error_code& ec, bool& from_service);

}  // namespace client
