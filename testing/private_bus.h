#pragma once

#include <chrono>
#include <string>

#include "testing/process.h"

namespace zt_testing {

// The configuration of a system-like bus: deny by default, policies from
// /etc/dbus-1/system.d, listening where the system bus listens.
std::string system_bus_config();

// True when name has an owner on the bus at address (a D-Bus address as seen by the
// caller). Throws std::runtime_error when the bus cannot be reached.
bool name_has_owner(const std::string& address, const std::string& name);

// Waits until name is owned on the bus at address, the owner process exits, or timeout;
// true only in the first case.
bool wait_for_name(const std::string& address, const std::string& name, child_process& owner,
                   std::chrono::milliseconds timeout);

}  // namespace zt_testing
