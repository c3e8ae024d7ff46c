#include "failure.h"

#include <openssl/err.h>

namespace ztcrypto_detail {

void throw_openssl(const char* method, const std::string& what) {
    std::string text = what;
    unsigned long err = 0;
    while ((err = ERR_get_error()) != 0) {
        char buffer[256];
        ERR_error_string_n(err, buffer, sizeof buffer);
        text += text == what ? " (" : "; ";
        text += buffer;
    }
    if (text != what) {
        text += ")";
    }
    throw Exception(text, Exception::backend_failure, method);
}

void fail(const char* method, int code, const std::string& what) {
    ERR_clear_error();
    throw Exception(what, code, method);
}

}  // namespace ztcrypto_detail
