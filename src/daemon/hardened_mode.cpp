#include "daemon/hardened_mode.h"

#include "config/config_manager.h"
#include "system/release.h"
#include "system/split.h"
#include "system/text.h"

bool is_hardened_release(const std::string& release) {
    const auto pieces = util::split(release, '-');
    return !pieces.empty() && pieces.back() == "hardened";
}

bool run_in_hardened_mode() {
    return is_hardened_release(os::release());
}

bool check_mode(config_manager& config, const std::string& release, std::error_code& ec) {
    if (!is_hardened_release(release)) {
        return false;
    }
    // A missing key reads as empty and refuses.
    return util::lower(config.read("launch_in_hardened", ec)) != "yes";
}

bool check_mode(config_manager& config, std::error_code& ec) {
    return check_mode(config, os::release(), ec);
}
