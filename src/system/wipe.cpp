#include "system/wipe.h"

#include <string.h>

namespace util {

void wipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size > 0) {
        ::explicit_bzero(data, size);
    }
}

void wipe(std::vector<unsigned char>& data) noexcept {
    wipe(data.data(), data.size());
}

void wipe(std::string& text) noexcept {
    wipe(text.data(), text.size());
}

void wipe(std::wstring& text) noexcept {
    wipe(text.data(), text.size() * sizeof(wchar_t));
}

}  // namespace util
