#include "client/ztctl/mount_table.h"

#include <algorithm>

namespace ztctl {

namespace {

// A field of the mount table, whose spaces, tabs, newlines and backslashes the kernel writes
// as a backslash and three octal digits.
std::string unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3) && field[i + 1] <= '3') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

std::string mounted_device(std::string_view mounts, const std::string& directory) {
    std::string device;
    for (std::size_t start = 0; start < mounts.size();) {
        const std::size_t end = std::min(mounts.find('\n', start), mounts.size());
        const std::string_view line = mounts.substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find(' ');
        if (first == std::string_view::npos) {
            continue;
        }
        const std::size_t second = line.find(' ', first + 1);
        const std::string_view point =
            line.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                    : second - first - 1);
        if (unescape(point) == directory) {
            device = unescape(line.substr(0, first));
        }
    }
    return device.rfind("/dev/", 0) == 0 ? device : std::string();
}

}  // namespace ztctl
