#pragma once

#include <string>
#include <system_error>

class config_manager;

// True when the kernel release names a hardened kernel: its last "-"-separated piece is
// exactly "hardened". An empty release is not hardened.
bool is_hardened_release(const std::string& release);

// True when the running kernel (uname's release) is hardened.
bool run_in_hardened_mode();

// True when the daemon must refuse to run on a kernel of this release: the kernel is
// hardened and the configuration's "launch_in_hardened" is not "yes" (any letter case).
bool check_mode(config_manager& config, const std::string& release, std::error_code& ec);

// check_mode for the running kernel.
bool check_mode(config_manager& config, std::error_code& ec);
