#pragma once

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "ztcrypto/exception.h"

namespace ztcrypto_detail {

// Throws Exception(backend_failure) for a failed OpenSSL call of `method`, with the text of
// OpenSSL's error queue appended to `what`; the queue is emptied so no error lingers.
[[noreturn]] void throw_openssl(const char* method, const std::string& what);

// Throws Exception with `code` for `method`.
[[noreturn]] void fail(const char* method, int code, const std::string& what);

// Runs `body` and makes sure only Exception leaves it: anything else (an allocation
// failure, a library exception) becomes an Exception whose inner() is the original.
template <class Body>
decltype(auto) guarded(const char* method, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (const Exception&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw Exception("out of memory", Exception::backend_failure, method,
                        std::current_exception());
    } catch (const std::exception& e) {
        throw Exception(e.what(), Exception::backend_failure, method, std::current_exception());
    } catch (...) {
        throw Exception("unexpected failure", Exception::backend_failure, method,
                        std::current_exception());
    }
}

}  // namespace ztcrypto_detail
