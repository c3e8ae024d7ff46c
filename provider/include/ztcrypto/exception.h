#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "ztcrypto/export.h"

// The one exception type of the provider: every failure of every provider operation is
// reported by throwing an Exception (or a class derived from it), never anything else.
class ZTCRYPTO_API Exception : public std::exception {
  public:
    // Broad reasons a provider operation fails; the value travels as code().
    enum Code : int {
        invalid_argument = 1,       // an argument is null, of a wrong size or out of range
        unknown_algorithm = 2,      // a create_* call named an algorithm the provider lacks
        not_initialized = 3,        // the object (or factory) lacks the key or state it needs
        malformed_data = 4,         // a container, key or block is not in the expected format
        authentication_failed = 5,  // a wrong password or tampered sealed data
        backend_failure = 6,        // the underlying cryptographic library failed
    };

    // A failure of `method` with a human-readable message; `inner` is the exception that
    // caused it (or null), `data` optional bytes that help diagnose it.
    Exception(std::string message, int code, std::string method, std::exception_ptr inner = nullptr,
              std::vector<std::uint8_t> data = {});
    ~Exception() override;

    // "method: message", valid for the lifetime of the exception.
    const char* what() const noexcept override;
    // The message without the method name.
    const std::string& message() const noexcept { return message_; }
    // One of Code (or another provider-specific integer).
    int code() const noexcept { return code_; }
    // The name of the provider operation that failed, e.g. "DiffieHellman::import_container".
    const std::string& method() const noexcept { return method_; }
    // The exception that caused this one, or null.
    std::exception_ptr inner() const noexcept { return inner_; }
    // Diagnostic bytes attached by the thrower; never secrets.
    const std::vector<std::uint8_t>& data() const noexcept { return data_; }

  private:
    std::string message_;
    int code_;
    std::string method_;
    std::exception_ptr inner_;
    std::vector<std::uint8_t> data_;
    std::string what_;
};

// A bad argument: argument() names it (e.g. "iv_rawPtr"); code() is invalid_argument.
class ZTCRYPTO_API InvalidArgumentException : public Exception {
  public:
    // `argument` is the parameter's name, `message` says what is wrong with it.
    InvalidArgumentException(std::string argument, std::string method, std::string message);
    ~InvalidArgumentException() override;

    // The name of the offending argument.
    const std::string& argument() const noexcept { return argument_; }

  private:
    std::string argument_;
};
