#include "client/ztctl/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include "client/ztctl/exit_status.h"
#include "foundation/i18n.h"
#include "system/uuid.h"

namespace ztctl {

namespace {

// The longest wait a call may be given, in seconds (a day).
constexpr double kMaxTimeout = 86400.0;

// The longest account name accepted; the password database's own limit is far lower.
constexpr std::size_t kMaxAccountName = 256;

// The longest file-system name accepted (what follows "mkfs." in a formatting tool's name).
constexpr std::size_t kMaxFsName = 64;

// A name the service can look up among its formatting tools: letters, digits, '.', '_' and
// '-', not starting with '-' or '.'. The service decides whether it has that tool.
bool valid_fs_name(const std::string& name) {
    if (name.empty() || name.size() > kMaxFsName || name.front() == '-' || name.front() == '.') {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

// The subcommand that "help" names by the words in topic, or null when there is none.
// prefix receives the names of the commands above it ("ztctl service").
const CLI::App* find_topic(const CLI::App& app, const std::vector<std::string>& topic,
                           std::string& prefix) {
    const CLI::App* current = &app;
    for (const std::string& word : topic) {
        prefix += prefix.empty() ? current->get_name() : " " + current->get_name();
        const auto subcommands = current->get_subcommands({});
        const auto found =
            std::find_if(subcommands.begin(), subcommands.end(),
                         [&](const CLI::App* sub) { return sub->get_name() == word; });
        if (found == subcommands.end()) {
            return nullptr;
        }
        current = *found;
    }
    return current;
}

}  // namespace

bool valid_account_name(const std::string& name) {
    if (name.empty() || name.size() > kMaxAccountName || name == "." || name == ".." ||
        name.front() == '-') {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F || c == ' ' || c == '/' || c == ':';
    });
}

bool parse_size(const std::string& text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    if (digits == 0 || text.size() - digits > 1) {
        return false;
    }
    unsigned shift = 0;
    if (digits < text.size()) {
        switch (text.back()) {
            case 'K':
            case 'k':
                shift = 10;
                break;
            case 'M':
            case 'm':
                shift = 20;
                break;
            case 'G':
            case 'g':
                shift = 30;
                break;
            case 'T':
            case 't':
                shift = 40;
                break;
            default:
                return false;
        }
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    if (value == 0 || value > (UINT64_MAX >> shift)) {
        return false;
    }
    bytes = value << shift;
    return true;
}

bool valid_uuid(const std::string& text) {
    Uuid uuid;
    return text.size() == 36 && uuid.parse(text);
}

std::string command_name(command c) {
    switch (c) {
        case command::ping:
            return "ping";
        case command::status:
            return "status";
        case command::keystore_create:
            return "keystore create";
        case command::user_add:
            return "user add";
        case command::user_remove:
            return "user remove";
        case command::user_list:
            return "user list";
        case command::user_show:
            return "user show";
        case command::user_registered:
            return "user registered";
        case command::admin_list:
            return "admin list";
        case command::service_public_key:
            return "service public-key";
        case command::service_stop:
            return "service stop";
        case command::service_deinit:
            return "service deinit";
        case command::disk_create:
            return "disk create";
        case command::disk_status:
            return "disk status";
        case command::disk_ready:
            return "disk ready";
        case command::disk_created:
            return "disk created";
        case command::disk_has_uuid:
            return "disk has-uuid";
        case command::mount:
            return "mount";
        case command::unmount:
            return "unmount";
    }
    return {};
}

parse_result parse_command_line(const std::vector<std::string>& args) {
    invocation run;
    double timeout = 0;
    std::string size;
    std::vector<std::string> topic;
    const CLI::Validator account_name(
        [](std::string& name) {
            return valid_account_name(name) ? std::string() : std::string(_("Not an account name"));
        },
        "");
    const CLI::Validator size_text(
        [](std::string& text) {
            std::uint64_t bytes = 0;
            return parse_size(text, bytes) ? std::string()
                                           : std::string(_("Not a size (such as 64M or 2G)"));
        },
        "");
    const CLI::Validator absolute_path(
        [](std::string& path) {
            return !path.empty() && path.front() == '/' ? std::string()
                                                        : std::string(_("Not an absolute path"));
        },
        "");
    const CLI::Validator fs_name(
        [](std::string& name) {
            return valid_fs_name(name) ? std::string() : std::string(_("Not a file system name"));
        },
        "");
    const CLI::Validator uuid_text(
        [](std::string& text) {
            return valid_uuid(text) ? std::string() : std::string(_("Not a UUID"));
        },
        "");

    CLI::App app{_("Control the encrypted disk service"), "ztctl"};
    app.set_help_flag("-h,--help", _("Print this help and exit"));
    app.set_version_flag("--version", "ztctl " ZT_VERSION);
    // Global options are accepted after the command too.
    app.fallthrough();
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("ztctl: ") + e.what() + "\n" + _("Run 'ztctl --help' for the usage.") +
               "\n";
    });
    app.add_option("--as", run.global.account, _("The account to act for"))
        ->type_name("NAME")
        ->check(account_name);
    app.add_option("--password-file", run.global.password_file, _("Read the password from FILE"))
        ->type_name("FILE");
    app.add_flag("--json", run.global.json, _("Print one JSON object per command"));
    app.add_flag("-q,--quiet", run.global.quiet, _("Print nothing on success"));
    app.add_option("--timeout", timeout, _("Wait at most SECONDS for each answer"))
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, kMaxTimeout));

    // The commands that can run, each with the subcommand that names it.
    std::vector<std::pair<CLI::App*, command>> leaves;
    const auto leaf = [&leaves](CLI::App* parent, const std::string& name,
                                const std::string& description, command c) {
        CLI::App* sub = parent->add_subcommand(name, description);
        leaves.emplace_back(sub, c);
        return sub;
    };
    const auto group = [&app](const std::string& name, const std::string& description) {
        CLI::App* sub = app.add_subcommand(name, description);
        sub->require_subcommand(1);
        return sub;
    };
    const auto name_argument = [&](CLI::App* sub) {
        sub->add_option("NAME", run.name, _("The user's account name"))
            ->required()
            ->check(account_name);
    };
    const auto new_password_option = [&](CLI::App* sub) {
        return sub
            ->add_option("--new-password-file", run.new_password_file,
                         _("Read the new account's password from FILE"))
            ->type_name("FILE");
    };

    CLI::App* ping =
        leaf(&app, "ping", _("Set up a session, close it, show the timings"), command::ping);
    ping->add_flag("--authenticated", run.authenticated, _("Use the authenticated handshake"));
    leaf(&app, "status", _("Show the account, its role and its disk"), command::status);

    CLI::App* keystore = group("keystore", _("Key stores for registration"));
    CLI::App* create =
        leaf(keystore, "create", _("Make a key store for a new account"), command::keystore_create);
    create->add_option("--out", run.out_file, _("Write the key store to FILE (a new file)"))
        ->type_name("FILE")
        ->required();
    new_password_option(create);

    CLI::App* user = group("user", _("User accounts"));
    CLI::App* add = leaf(user, "add", _("Register a user"), command::user_add);
    name_argument(add);
    CLI::Option* from_keystore =
        add->add_option("--keystore", run.keystore_file,
                        _("Register the key store in FILE (the service removes it)"))
            ->type_name("FILE");
    new_password_option(add)->excludes(from_keystore);
    name_argument(leaf(user, "remove", _("Remove a user"), command::user_remove));
    leaf(user, "list", _("List the users"), command::user_list);
    name_argument(leaf(user, "show", _("Show an account's profile"), command::user_show));
    name_argument(leaf(user, "registered", _("Tell whether a user is registered (exit 0 or 1)"),
                       command::user_registered));

    CLI::App* admin = group("admin", _("Administrators"));
    leaf(admin, "list", _("List the administrators"), command::admin_list);

    CLI::App* service = group("service", _("The service itself"));
    leaf(service, "public-key", _("Show the service's public key"), command::service_public_key);
    leaf(service, "stop", _("Stop the service"), command::service_stop);
    CLI::App* deinit = leaf(service, "deinit", _("Remove the service's files and stop it"),
                            command::service_deinit);
    deinit->add_flag("-y,--yes", run.yes, _("Do not ask for confirmation"));

    CLI::App* disk = group("disk", _("The users' encrypted disks"));
    CLI::App* disk_create =
        leaf(disk, "create", _("Create a user's disk (administrators)"), command::disk_create);
    disk_create->add_option("USER", run.name, _("The user whose disk it is"))
        ->required()
        ->check(account_name);
    disk_create
        ->add_option("--path", run.path, _("The container file to create (an absolute path)"))
        ->type_name("PATH")
        ->required()
        ->check(absolute_path);
    disk_create->add_option("--size", size, _("The container's size: bytes, or with K, M, G or T"))
        ->type_name("SIZE")
        ->required()
        ->check(size_text);
    disk_create->add_option("--fs", run.fs, _("The file system to format it with"))
        ->type_name("FS")
        ->capture_default_str()
        ->check(fs_name);
    CLI::App* disk_status =
        leaf(disk, "status", _("Show the state of your disk, or of USER's"), command::disk_status);
    disk_status->add_option("USER", run.name, _("A user whose disk to show (administrators)"))
        ->check(account_name);
    leaf(disk, "ready", _("Tell whether your disk is ready to mount (exit 0 or 1)"),
         command::disk_ready);
    leaf(disk, "created", _("Tell whether your disk is created (exit 0 or 1)"),
         command::disk_created);
    leaf(disk, "has-uuid", _("Tell whether your disk has the UUID (exit 0 or 1)"),
         command::disk_has_uuid)
        ->add_option("UUID", run.uuid, _("The UUID"))
        ->required()
        ->check(uuid_text);
    const auto uuid_option = [&](CLI::App* sub) {
        sub->add_option("--uuid", run.uuid, _("Only the disk with this UUID"))
            ->type_name("UUID")
            ->check(uuid_text);
    };
    uuid_option(leaf(&app, "mount", _("Mount your disk on /zt/NAME"), command::mount));
    CLI::App* unmount = leaf(&app, "unmount", _("Unmount your disk"), command::unmount);
    uuid_option(unmount);
    unmount->add_flag("--force", run.force,
                      _("End the processes that use the disk, then unmount it"));

    CLI::App* help = app.add_subcommand("help", _("Show the help of a command"));
    help->add_option("command", topic, _("The command"));

    parse_result result;
    std::ostringstream out;
    std::ostringstream err;
    try {
        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(std::move(reversed));
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        result.status = code == 0 ? kExitSuccess : kExitUsage;
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    if (help->parsed()) {
        std::string prefix;
        const CLI::App* subject = find_topic(app, topic, prefix);
        if (subject == nullptr) {
            result.status = kExitUsage;
            result.err = std::string("ztctl: ") + _("No such command") + "\n";
        } else {
            result.out = subject->help(prefix);
        }
        return result;
    }
    const auto chosen = std::find_if(leaves.begin(), leaves.end(),
                                     [](const auto& entry) { return entry.first->parsed(); });
    if (chosen == leaves.end()) {
        result.status = kExitUsage;
        result.err = std::string("ztctl: ") + _("No such command") + "\n";
        return result;
    }
    if (timeout > 0) {
        run.global.timeout_ms = static_cast<int>(std::ceil(timeout * 1000.0));
    }
    run.command = chosen->second;
    if (run.command == command::disk_create && !parse_size(size, run.size)) {
        result.status = kExitUsage;
        result.err = std::string("ztctl: ") + _("Not a size (such as 64M or 2G)") + "\n";
        return result;
    }
    result.run = run;
    return result;
}

}  // namespace ztctl
