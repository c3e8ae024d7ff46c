#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "client/ztctl/command_line.h"

namespace ztctl {

// What one command did: for the JSON object, its members beyond "command" and "ok"; for
// people, the text to print. A failure carries its error and exit status instead, and may
// explain itself with fields (beside "error" in the JSON object) and text (on standard
// error after the error line).
struct result {
    std::string command;
    int status = 0;
    std::error_code error;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    std::string text;
};

// The JSON object of a result: {"command", "ok", the fields} on success, {"command", "ok",
// "error": {"message", "category", "value"}, the fields} on failure.
nlohmann::ordered_json to_json(const result& r);

// Rows of label and value, the labels padded to one width: "label  value" lines.
std::string aligned(const std::vector<std::pair<std::string, std::string>>& rows);

// Rows of cells in columns, each column padded to its widest cell (the last one is not
// padded); a header is just the first row.
std::string columns(const std::vector<std::vector<std::string>>& rows);

// Text that came from the service, safe to print on a terminal: control characters (C0,
// DEL and C1) and bytes that are no part of a UTF-8 sequence become '?'.
std::string printable(const std::string& text);

// The error line of standard error: "ztctl: MESSAGE (CATEGORY VALUE)".
std::string error_line(const std::error_code& ec);

// Prints r as the options ask: the JSON object, or the text (none with --quiet) on success,
// and the error line on standard error on failure, followed by the failure's text unless
// the JSON object carries it.
void print(const result& r, const global_options& options, std::ostream& out, std::ostream& err);

}  // namespace ztctl
