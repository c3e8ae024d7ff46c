#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ztctl {

// The commands ztctl runs.
enum class command {
    ping,
    status,
    keystore_create,
    user_add,
    user_remove,
    user_list,
    user_show,
    user_registered,
    admin_list,
    service_public_key,
    service_stop,
    service_deinit,
    disk_create,
    disk_status,
    disk_ready,
    disk_created,
    disk_has_uuid,
    mount,
    unmount,
};

// Options that every command takes.
struct global_options {
    std::string account;        // --as; empty: the invoking user's login name
    std::string password_file;  // --password-file; empty: the terminal or standard input
    bool json = false;          // --json: one JSON object on standard output
    bool quiet = false;         // -q: no human output on success
    int timeout_ms = -1;        // --timeout SECONDS; -1: the bus library's default
};

// A command line that names something to run.
struct invocation {
    global_options global;
    ztctl::command command = ztctl::command::ping;
    bool authenticated = false;     // ping --authenticated: the authenticated handshake
    bool yes = false;               // service deinit --yes: no confirmation
    std::string name;               // the NAME of user add|remove|show|registered, disk's USER
    std::string keystore_file;      // user add --keystore: a key store made by its user
    std::string new_password_file;  // --new-password-file: the new account's password
    std::string out_file;           // keystore create --out
    std::string path;               // disk create --path: the container file, absolute
    std::uint64_t size = 0;         // disk create --size, in bytes (never 0)
    std::string fs = "ext4";        // disk create --fs
    std::string uuid;               // disk has-uuid UUID, mount|unmount --uuid
    bool force = false;             // unmount --force: the service ends the disk's holders
};

// What parsing a command line gives: a command to run, or text to print (help, version,
// an error) and the exit status to end with.
struct parse_result {
    std::optional<invocation> run;
    int status = 0;
    std::string out;  // for standard output
    std::string err;  // for standard error
};

// Parses the arguments (without the program name). Global options may stand before or
// after the command. "help [COMMAND...]" and -h print help (status 0), --version the
// version (0); anything the command line does not allow gives status 2 and a message.
parse_result parse_command_line(const std::vector<std::string>& args);

// True for a name an account can have: 1 to 256 bytes, not "." or "..", no leading '-',
// no '/', ':', white space or control characters (which would reach the service, its
// directories, other programs' command lines and terminals).
bool valid_account_name(const std::string& name);

// A size in bytes from text: decimal digits and at most one suffix K, M, G or T (either case,
// binary: 1K is 1024 bytes). False for anything else, for 0 and for a size past 64 bits.
bool parse_size(const std::string& text, std::uint64_t& bytes);

// True for the 36-character text form of a UUID (either case).
bool valid_uuid(const std::string& text);

// The command as JSON output names it ("ping", "service stop", ...).
std::string command_name(command c);

}  // namespace ztctl
