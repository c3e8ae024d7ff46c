#include "system/mkfs.h"

#include <cerrno>

#include "system/glib_error.h"
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

}  // namespace sys
