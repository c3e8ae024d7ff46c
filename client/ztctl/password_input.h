#pragma once

#include <string>
#include <system_error>

namespace ztctl {

// Reads account's password: the whole of file (one trailing newline dropped) when file is
// given; else from the terminal without echo when standard input is one; else one line of
// standard input. The text is UTF-8 and comes back as whole code points. Nothing readable,
// an empty password, a file that is not a regular file of at most 4 KiB, or text that is no
// UTF-8 give client_error::no_password. Buffers that held the text are wiped.
bool read_password(const std::string& file, const std::string& account, std::wstring& out,
                   std::error_code& ec);

// Reads a new password for account (empty when the account has no name yet): the whole of
// file when given, as read_password does; else entered twice, on the terminal without echo
// or as two lines of standard input, and two entries that differ give
// client_error::passwords_differ. Other failures and the wiping are those of read_password.
bool read_new_password(const std::string& file, const std::string& account, std::wstring& out,
                       std::error_code& ec);

// Asks question on the terminal and waits for an answer; true only for one that starts with
// 'y' or 'Y'. Without a terminal nobody can answer: false.
bool confirm(const std::string& question);

// Wipes the characters of a string that held a secret.
void wipe(std::string& text) noexcept;
void wipe(std::wstring& text) noexcept;

}  // namespace ztctl
