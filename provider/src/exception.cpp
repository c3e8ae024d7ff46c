#include "ztcrypto/exception.h"

#include <utility>

Exception::Exception(std::string message, int code, std::string method, std::exception_ptr inner,
                     std::vector<std::uint8_t> data)
    : message_(std::move(message)),
      code_(code),
      method_(std::move(method)),
      inner_(std::move(inner)),
      data_(std::move(data)),
      what_(method_.empty() ? message_ : method_ + ": " + message_) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
    return what_.c_str();
}

InvalidArgumentException::InvalidArgumentException(std::string argument, std::string method,
                                                   std::string message)
    : Exception("invalid argument " + argument + ": " + message, Exception::invalid_argument,
                std::move(method)),
      argument_(std::move(argument)) {}

InvalidArgumentException::~InvalidArgumentException() = default;
