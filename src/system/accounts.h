#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>
#include <utility>

// Look-ups in the system's password database.
namespace os {

// The (uid, gid) of user_name; an unknown name or a failed look-up gives (0, 0).
std::pair<unsigned int, unsigned int> get_user_id(const std::string& user_name);

// True when the password database knows user_name; a failed look-up gives false and its
// errno (generic category), an unknown name false with ec cleared.
bool is_user_exist(const std::string& user_name, std::error_code& ec);

// The account name of uid, or an empty string when there is none.
std::string get_user_name(uid_t uid);

// The account name of the real user running this process.
std::string getuser();

}  // namespace os
