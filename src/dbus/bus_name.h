#pragma once

#include <string>

namespace misc {

// Returns the per-user bus name "ru.quorvex." followed by user, the name that a registered
// user's client may own on the system bus.
std::string get_server_bus_name(const std::string& user);

}  // namespace misc
