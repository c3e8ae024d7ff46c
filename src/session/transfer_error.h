#pragma once

#include <system_error>

// Errors of the session protocol (packets, transfer contexts, handshake), category
// "transfer". Errors of the cipher and of the transport keep their own categories.
enum class transfer_error {
    success = 0,
    initialize_failure = 0x20000,
    not_initialized = 0x20001,
    not_authorized = 0x20002,
    already_established = 0x20003,
    non_secured_establish = 0x20004,
    non_authenticated_establish = 0x20005,
    authenticated_establish = 0x20006,
    not_established = 0x20007,
    not_secured = 0x20008,
    already_authenticated = 0x20009,
    invalid_protocol_id = 0x2000a,
    bad_header = 0x2000b,
    bad_metadata = 0x2000c,
    bad_status = 0x2000d,
    not_confirmed = 0x2000e,
    bad_data_format = 0x2000f,
    invalid_argument = 0x20010,
    invalid_start_condition = 0x20011,
    invalid_setup_phase = 0x20012,
    crypto_not_ready = 0x20013,
    data_corrupted = 0x20014,
};

// The one "transfer" category instance.
const std::error_category& transfer_category() noexcept;

std::error_code make_error_code(transfer_error e) noexcept;
std::error_condition make_error_condition(transfer_error e) noexcept;

template <>
struct std::is_error_code_enum<transfer_error> : std::true_type {};
