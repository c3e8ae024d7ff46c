#include "daemon/credentials.h"

#include <algorithm>
#include <cstddef>

#include "system/cast.h"
#include "system/exists.h"
#include "system/fio.h"
#include "system/text.h"

namespace {

constexpr std::size_t kSecretSize = 32;

}  // namespace

service_credentials split_credentials(const std::vector<unsigned char>& content) {
    const auto secret_end =
        content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), kSecretSize));
    const std::vector<unsigned char> secret(content.begin(), secret_end);
    service_credentials credentials;
    // Hexadecimal digits are plain ASCII, so the conversion cannot meet invalid UTF-8.
    credentials.first = cast::to_wstring(util::hexlify(secret));
    credentials.second.assign(secret_end, content.end());
    return credentials;
}

service_credentials load_credentials(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (!os::exists(path, ec)) {
        return {};
    }
    std::vector<unsigned char> content;
    if (!fio::read(path, content, ec)) {
        return {};
    }
    return split_credentials(content);
}
