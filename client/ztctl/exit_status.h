#pragma once

#include <system_error>

namespace ztctl {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRefused = 1;         // the service refused the request
inline constexpr int kExitUsage = 2;           // bad command line
inline constexpr int kExitUnreachable = 3;     // no bus, name not owned, no answer in time
inline constexpr int kExitAuthentication = 4;  // wrong password, unknown account, no session

// Where a command was when it failed: setting up its session, or in a request on it.
enum class stage { setup, request };

// The exit status for ec (0 when it is empty). from_service tells whether the service sent
// ec in a reply, or the client found it itself. Not reaching the service is 3 wherever it
// happens; anything else during the setup is 4. In a request, the service's refusal is 1;
// a reply the session cannot decrypt or check, or keys that differ from the pinned ones,
// mean the session was not what it claimed (4); other local faults are 1.
int exit_status(stage where, const std::error_code& ec, bool from_service);

}  // namespace ztctl
