#pragma once

// What the commands of ztctl share; the commands themselves are declared at the end, one
// group per file.

#include <string>
#include <system_error>
#include <vector>

#include "client/session.h"
#include "client/ztctl/commands.h"
#include "client/ztctl/exit_status.h"
#include "client/ztctl/output.h"

namespace ztctl::detail {

using bytes = std::vector<unsigned char>;

// The failure of a command at where.
result failed(const invocation& what, stage where, const std::error_code& ec, bool from_service);

// A success of the command, to be filled in.
result succeeded(const invocation& what);

// The account the command acts for: --as, else the invoking user's login name.
std::string account_of(const invocation& what);

// Connects and sets up an encrypted session as the invocation's account. On failure the
// result to end with is in failure.
bool open_secure(client::session& s, const invocation& what, const prompts& ask, result& failure);

// The same, keeping the password that opened the session in password for a request that
// needs it again; the caller wipes it.
bool open_secure(client::session& s, const invocation& what, const prompts& ask,
                 std::wstring& password, result& failure);

// Connects and opens a clear session (for requests that need no account).
bool open_clear(client::session& s, const invocation& what, result& failure);

// Sends body to method and reads the reply. False when no reply could be read or the
// service answered with an error; failure then holds the result to end with.
bool request(client::session& s, const invocation& what, dbus_iface::iface&& method,
             const bytes& body, client::service_reply& reply, result& failure);

// The service's public key as "GetPublicKey" answers it on s, refused when it differs from
// the key pinned at options.service_keys_path; pinned tells whether one is.
bool service_public_key(client::session& s, const invocation& what,
                        const client::session_options& options, bytes& key, bool& pinned,
                        result& failure);

// Ends a session whose requests are done; what goes wrong now changes nothing.
void close_quietly(client::session& s) noexcept;

// A time in seconds since the epoch as local date and time ("2024-05-01 12:00").
std::string format_time(std::int64_t seconds);

// A size in bytes, shortened when it is a whole number of KiB, MiB, GiB or TiB ("64M").
std::string format_size(std::uint64_t size);

// Commands of the account group (commands_user.cpp).
result status(const invocation& what, const prompts& ask, const client::session_options& options);
result user_add(const invocation& what, const prompts& ask, const client::session_options& options);
result user_remove(const invocation& what, const prompts& ask,
                   const client::session_options& options);
result user_list(const invocation& what, const prompts& ask,
                 const client::session_options& options);
result user_show(const invocation& what, const client::session_options& options);
result user_registered(const invocation& what, const client::session_options& options);
result admin_list(const invocation& what, const prompts& ask,
                  const client::session_options& options);

// Makes the key store of a new account for the service that s is connected to: its public
// key (checked against the pinned one), the new password asked for account, the packed
// key store in file. A new password that cannot be read or whose two entries differ ends
// the command with exit status 2: nothing was asked of the service.
bool make_keystore(client::session& s, const invocation& what, const prompts& ask,
                   const client::session_options& options, const std::string& account, bytes& file,
                   result& failure);

// A key store for a new account (commands_keystore.cpp).
result keystore_create(const invocation& what, const prompts& ask,
                       const client::session_options& options);

// The disk commands: disk create|status|ready|created|has-uuid (commands_disk.cpp).
result disk_create(const invocation& what, const prompts& ask,
                   const client::session_options& options);
result disk_status(const invocation& what, const prompts& ask,
                   const client::session_options& options);
result disk_question(const invocation& what, const prompts& ask,
                     const client::session_options& options);

// mount and unmount (commands_mount.cpp).
result mount(const invocation& what, const prompts& ask, const client::session_options& options);
result unmount(const invocation& what, const prompts& ask, const client::session_options& options);

}  // namespace ztctl::detail
