#pragma once

#include <sys/types.h>

#include <string>
#include <system_error>
#include <utility>

// Look-ups in the system's password database.
namespace os {

// The (uid, gid) of user_name; an unknown name or a failed look-up gives (0, 0).
std::pair<unsigned int, unsigned int> get_user_id(const std::string& user_name);

// The uid and gid of user_name. An unknown name gives ENOENT, a failed look-up its errno
// (generic category); uid and gid are then left as they were.
bool find_user_id(const std::string& user_name, uid_t& uid, gid_t& gid, std::error_code& ec);

// True when the password database knows user_name; a failed look-up gives false and its
// errno (generic category), an unknown name false with ec cleared.
bool is_user_exist(const std::string& user_name, std::error_code& ec);

// The account name of uid, or an empty string when there is none.
std::string get_user_name(uid_t uid);

// The account name of the real user running this process.
std::string getuser();

}  // namespace os
