#include "system/mkfs.h"

#include <cerrno>

#include <algorithm>

#include "system/glib_error.h"
#include "system/ls.h"
#include "system/spawner.h"

namespace sys {

bool mkfs(const std::string& device, const std::string& fs, std::error_code& ec) {
    return run_mkfs("/sbin/mkfs." + fs, device, ec);
}

bool run_mkfs(const std::string& tool, const std::string& device, std::error_code& ec) {
    ec.clear();
    Spawner spawner(tool.c_str());
    spawner.setflags(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL)
        .argv({device.c_str(), "-q"})
        .pass_env();

    GError* error = nullptr;
    if (!spawner.spawn_sync(&error)) {
        ec.assign(sys::glib_errno(error), std::generic_category());
        g_clear_error(&error);
        return false;
    }

    const auto [how, number] = spawner.get_exit_status();
    if (how == Spawner::SignalType::exited) {
        if (number == 0) {
            return true;
        }
        ec.assign(number, std::generic_category());
        return false;
    }
    ec.assign(ECANCELED, std::generic_category());
    return false;
}

std::vector<std::string> get_supported_fs_list(const std::string& dir) {
    constexpr std::string_view marker = "mkfs.";
    std::vector<std::string> out;
    for (std::string name : os::ls(dir)) {
        const auto at = name.find(marker);
        if (at != std::string::npos) {
            out.push_back(name.erase(at, marker.size()));
        }
    }
    return out;
}

bool check_support_fs(const std::string& fs, const std::string& dir) {
    const auto list = get_supported_fs_list(dir);
    return !fs.empty() && std::find(list.begin(), list.end(), fs) != list.end();
}

}  // namespace sys
