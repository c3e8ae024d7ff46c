#include "provision_options.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace provision {

namespace {

constexpr std::uint32_t kSafeIterations = 600000;
constexpr std::uint32_t kProviderMinimum = 1000;
constexpr std::uint32_t kProviderMaximum = 10000000;

// Splits "NAME:VALUE" at the first colon (account names never hold one).
bool split_pair(const std::string& text, std::pair<std::string, std::string>& out) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    out = {text.substr(0, colon), text.substr(colon + 1)};
    return true;
}

bool parse_count(const std::string& text, std::uint32_t& out) {
    const char* end = text.data() + text.size();
    const auto [at, status] = std::from_chars(text.data(), end, out);
    return status == std::errc() && at == end;
}

}  // namespace

std::string usage() {
    return "Usage: ztctl-provision --service-dir DIR --admin NAME:PASSWORD_FILE [--admin ...]\n"
           "                       [--iterations N [--allow-low-iterations]]\n"
           "                       [--export-container NAME:FILE] [--export-token NAME:FILE]\n"
           "                       [--write-config [--config-path PATH]] [--force]\n"
           "\n"
           "Creates a service directory for ztctld: \"service.bin\" (a new service secret and\n"
           "key container) and \"database.bin\" holding the administrators given. Each\n"
           "administrator gets a new key container under the password read from its file\n"
           "(\"-\" reads one line from standard input; a trailing newline is dropped).\n"
           "\n"
           "  --iterations N          PBKDF2 iterations of administrator containers\n"
           "                          (default and minimum 600000)\n"
           "  --allow-low-iterations  accept fewer iterations (tests only; at least 1000)\n"
           "  --export-container      write that administrator's key container to FILE\n"
           "  --export-token          write that administrator's session token to FILE\n"
           "  --write-config          write the configuration file naming the directory,\n"
           "                          and service.pub (the service's public keys, which\n"
           "                          clients pin) beside it\n"
           "  --config-path PATH      where --write-config writes (default\n"
           "                          /etc/ztctl/ztctl.conf)\n"
           "  --force                 replace files that already exist\n"
           "\n"
           "Files are created with mode 0600 (service.pub 0644), a new service directory\n"
           "with mode 0700.\n"
           "Exit status: 0 success, 1 failure, 2 bad command line.\n";
}

bool parse(const std::vector<std::string>& args, options& out, std::string& error) {
    out = options{};
    bool iterations_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        const auto pair_value = [&](std::vector<std::pair<std::string, std::string>>& into) {
            std::string text;
            std::pair<std::string, std::string> item;
            if (!value(text)) {
                return false;
            }
            if (!split_pair(text, item)) {
                error = arg + " expects NAME:FILE, got \"" + text + "\"";
                return false;
            }
            into.push_back(std::move(item));
            return true;
        };
        std::string text;
        if (arg == "-h" || arg == "--help") {
            out.help = true;
            return true;
        } else if (arg == "--service-dir") {
            if (!value(out.service_dir)) {
                return false;
            }
        } else if (arg == "--admin") {
            if (!pair_value(out.admins)) {
                return false;
            }
        } else if (arg == "--export-container") {
            if (!pair_value(out.export_containers)) {
                return false;
            }
        } else if (arg == "--export-token") {
            if (!pair_value(out.export_tokens)) {
                return false;
            }
        } else if (arg == "--iterations") {
            if (!value(text)) {
                return false;
            }
            if (!parse_count(text, out.iterations)) {
                error = "--iterations expects a number, got \"" + text + "\"";
                return false;
            }
            iterations_given = true;
        } else if (arg == "--allow-low-iterations") {
            out.allow_low_iterations = true;
        } else if (arg == "--write-config") {
            out.write_config = true;
        } else if (arg == "--config-path") {
            if (!value(out.config_path)) {
                return false;
            }
        } else if (arg == "--force") {
            out.force = true;
        } else {
            error = "unknown argument \"" + arg + "\"";
            return false;
        }
    }
    if (out.service_dir.empty()) {
        error = "--service-dir is required";
        return false;
    }
    if (out.admins.empty()) {
        error = "at least one --admin is required";
        return false;
    }
    std::set<std::string> names;
    for (const auto& [name, file] : out.admins) {
        if (!names.insert(name).second) {
            error = "administrator \"" + name + "\" given twice";
            return false;
        }
    }
    for (const auto* exports : {&out.export_containers, &out.export_tokens}) {
        for (const auto& [name, file] : *exports) {
            if (!names.contains(name)) {
                error = "cannot export \"" + name + "\": not an administrator given";
                return false;
            }
        }
    }
    if (iterations_given && out.iterations < kSafeIterations && !out.allow_low_iterations) {
        error = "fewer than 600000 iterations need --allow-low-iterations";
        return false;
    }
    if (out.iterations < kProviderMinimum || out.iterations > kProviderMaximum) {
        error = "iterations must lie between 1000 and 10000000";
        return false;
    }
    return true;
}

}  // namespace provision
