#pragma once

#include <string>

#include "secret.h"

namespace ztcrypto_detail {

// The password as UTF-8. Throws InvalidArgumentException ("password") for a character
// that is not a Unicode scalar value (a surrogate or above U+10FFFF).
Secret password_utf8(const std::wstring& password, const char* method);

}  // namespace ztcrypto_detail
