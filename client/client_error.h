#pragma once

#include <system_error>

// Errors the client library finds on its own side of a session, category "client". Errors
// that the service reports in its replies keep the service's categories.
enum class client_error {
    success = 0,
    bus_unavailable = 1,       // no connection to the system bus
    service_not_running = 2,   // nobody owns the service's bus name
    wrong_password = 3,        // the account's key container did not open
    damaged_container = 4,     // the key container the service holds is malformed
    service_key_mismatch = 5,  // the service's keys differ from the pinned ones
    step_refused = 6,          // the service refused a step of the session setup
    unexpected_answer = 7,     // words or arguments the protocol does not allow here
    bad_reply = 8,             // a reply payload that is not a reply frame
    no_reason = 9,             // a failure reply without an error in it
    no_session = 10,           // a request on a session that is not open
    bad_pin_file = 11,         // the file of pinned service keys cannot be read
    no_password = 12,          // no password could be read
    keystore_failed = 13,      // a key store for the service could not be made
    damaged_material = 14,     // the account's symmetric material does not open
    passwords_differ = 15,     // the two entries of a new password differ
};

// The one "client" category instance.
const std::error_category& client_category() noexcept;

std::error_code make_error_code(client_error e) noexcept;
std::error_condition make_error_condition(client_error e) noexcept;

template <>
struct std::is_error_code_enum<client_error> : std::true_type {};
