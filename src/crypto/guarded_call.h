#pragma once

#include <system_error>
#include <type_traits>
#include <utility>

#include "crypto/crypto_error.h"

namespace crypto {

// Runs step, which calls the provider (it reports faults only by throwing). Success clears ec
// and gives step's value (true for a step without one); any exception sets ec to failure and
// gives an empty value (false).
template <class Step>
auto guarded_call(std::error_code& ec, crypto_error failure, Step&& step) {
    using result = std::invoke_result_t<Step&>;
    try {
        if constexpr (std::is_void_v<result>) {
            step();
            ec.clear();
            return true;
        } else {
            result value = step();
            ec.clear();
            return value;
        }
    } catch (...) {
        ec = failure;
        if constexpr (std::is_void_v<result>) {
            return false;
        } else {
            return result{};
        }
    }
}

// Runs step and gives its value, or an empty value when the provider throws: for the
// getters, which have no error code to report in.
template <class Step>
auto value_or_empty(Step&& step) -> std::invoke_result_t<Step&> {
    try {
        return step();
    } catch (...) {
        return {};
    }
}

}  // namespace crypto
