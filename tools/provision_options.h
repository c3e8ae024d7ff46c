#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The command line of ztctl-provision.
namespace provision {

struct options {
    std::string service_dir;
    // Administrators in order: name and the file holding the password ("-": standard input).
    std::vector<std::pair<std::string, std::string>> admins;
    std::uint32_t iterations = 600000;
    bool allow_low_iterations = false;
    // Where to write an administrator's key container / token: name and file.
    std::vector<std::pair<std::string, std::string>> export_containers;
    std::vector<std::pair<std::string, std::string>> export_tokens;
    bool write_config = false;
    std::string config_path = "/etc/ztctl/ztctl.conf";
    bool force = false;
    bool help = false;
};

// Parses argv (without argv[0]). On failure returns false with a one-line reason in error.
// Checks what can be checked without touching files: a service directory, at least one
// administrator, distinct names, exports naming known administrators, and iterations of
// at least 600000 unless allow_low_iterations is set (the provider's floor of 1000 stays).
bool parse(const std::vector<std::string>& args, options& out, std::string& error);

// The usage text.
std::string usage();

}  // namespace provision
