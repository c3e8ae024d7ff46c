#pragma once

#include <functional>
#include <string>
#include <system_error>

#include "client/session.h"
#include "client/ztctl/command_line.h"
#include "client/ztctl/output.h"

namespace ztctl {

// What a command needs from the person running it.
struct prompts {
    // The password of the account; false with the reason when there is none.
    std::function<bool(const std::string& account, std::wstring& password, std::error_code& ec)>
        password;
    // The password of a new account (its name, or empty before it has one), entered twice
    // unless it comes from a file; false with the reason when there is none or the two
    // entries differ.
    std::function<bool(const std::string& account, std::wstring& password, std::error_code& ec)>
        new_password;
    // A yes/no question; true for yes.
    std::function<bool(const std::string& question)> confirm;
};

// Runs the command against the service and says what happened.
result run(const invocation& what, const prompts& ask, const client::session_options& base = {});

// The invoking user's login name; empty when the password database has none.
std::string login_name();

}  // namespace ztctl
