#include "client/ztctl/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <utility>

#include "client/ztctl/exit_status.h"
#include "foundation/i18n.h"

namespace ztctl {

namespace {

// The longest wait a call may be given, in seconds (a day).
constexpr double kMaxTimeout = 86400.0;

// The longest account name accepted; the password database's own limit is far lower.
constexpr std::size_t kMaxAccountName = 256;

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
    }
    return {};
}

parse_result parse_command_line(const std::vector<std::string>& args) {
    invocation run;
    double timeout = 0;
    std::vector<std::string> topic;
    const CLI::Validator account_name(
        [](std::string& name) {
            return valid_account_name(name) ? std::string() : std::string(_("Not an account name"));
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
    result.run = run;
    return result;
}

}  // namespace ztctl
