#include "daemon/credentials.h"

#include <algorithm>
#include <cstddef>

#include "foundation/defer.h"
#include "system/cast.h"
#include "system/exists.h"
#include "system/fio.h"
#include "system/text.h"
#include "system/wipe.h"

namespace {

constexpr std::size_t kSecretSize = 32;

}  // namespace

service_credentials split_credentials(const std::vector<unsigned char>& content) {
    const auto secret_end =
        content.begin() + static_cast<std::ptrdiff_t>(std::min(content.size(), kSecretSize));
    // The secret and its text are wiped on every way out: only the password may remain.
    std::vector<unsigned char> secret(content.begin(), secret_end);
    std::string hex;
    auto wipe = foundation::make_deferred([&] {
        util::wipe(secret);
        util::wipe(hex);
    });
    hex = util::hexlify(secret);
    service_credentials credentials;
    // Hexadecimal digits are plain ASCII, so the conversion cannot meet invalid UTF-8.
    credentials.first = cast::to_wstring(hex);
    credentials.second.assign(secret_end, content.end());
    return credentials;
}

service_credentials load_credentials(const std::string& path, std::error_code& ec) {
    ec.clear();
    if (!os::exists(path, ec)) {
        return {};
    }
    std::vector<unsigned char> content;
    auto wipe = foundation::make_deferred([&content] { util::wipe(content); });
    if (!fio::read(path, content, ec)) {
        return {};
    }
    return split_credentials(content);
}
