#include "system/release.h"

#include <sys/utsname.h>

namespace os {

std::string release() {
    utsname info{};
    if (::uname(&info) != 0) {
        return {};
    }
    return info.release;
}

}  // namespace os
