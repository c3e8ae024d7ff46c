#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ztctl {

// The commands ztctl runs.
enum class command { ping, service_public_key, service_stop, service_deinit };

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
    bool authenticated = false;  // ping --authenticated: the authenticated handshake
    bool yes = false;            // service deinit --yes: no confirmation
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

// The command as JSON output names it ("ping", "service stop", ...).
std::string command_name(command c);

}  // namespace ztctl
