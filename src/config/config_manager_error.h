#pragma once

#include <system_error>

// Errors of the configuration reader, category "config manager". The file reader reports
// file problems through its own category; these values describe problems of the content.
enum class config_manager_error {
    success = 0,
    too_many_arguments = 256,
    parameter_exists = 257,
    not_supported_symbol = 258,
    parse_error = 259,
    insertion_failure = 260,
};

// The one "config manager" category instance.
const std::error_category& config_category() noexcept;

std::error_code make_error_code(config_manager_error e) noexcept;
std::error_condition make_error_condition(config_manager_error e) noexcept;

template <>
struct std::is_error_code_enum<config_manager_error> : std::true_type {};
