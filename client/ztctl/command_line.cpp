#include "client/ztctl/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "client/ztctl/exit_status.h"
#include "foundation/i18n.h"

namespace ztctl {

namespace {

// The longest wait a call may be given, in seconds (a day).
constexpr double kMaxTimeout = 86400.0;

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

std::string command_name(command c) {
    switch (c) {
        case command::ping:
            return "ping";
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
    app.add_option("--as", run.global.account, _("The account to act for"))->type_name("NAME");
    app.add_option("--password-file", run.global.password_file, _("Read the password from FILE"))
        ->type_name("FILE");
    app.add_flag("--json", run.global.json, _("Print one JSON object per command"));
    app.add_flag("-q,--quiet", run.global.quiet, _("Print nothing on success"));
    app.add_option("--timeout", timeout, _("Wait at most SECONDS for each answer"))
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, kMaxTimeout));

    CLI::App* ping = app.add_subcommand("ping", _("Set up a session, close it, show the timings"));
    ping->add_flag("--authenticated", run.authenticated, _("Use the authenticated handshake"));
    CLI::App* service = app.add_subcommand("service", _("The service itself"));
    service->require_subcommand(1);
    CLI::App* public_key =
        service->add_subcommand("public-key", _("Show the service's public key"));
    CLI::App* stop = service->add_subcommand("stop", _("Stop the service"));
    CLI::App* deinit =
        service->add_subcommand("deinit", _("Remove the service's files and stop it"));
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
    if (timeout > 0) {
        run.global.timeout_ms = static_cast<int>(std::ceil(timeout * 1000.0));
    }
    run.command = ping->parsed()         ? command::ping
                  : public_key->parsed() ? command::service_public_key
                  : stop->parsed()       ? command::service_stop
                                         : command::service_deinit;
    if (!deinit->parsed() && run.command == command::service_deinit) {
        result.status = kExitUsage;
        result.err = std::string("ztctl: ") + _("No such command") + "\n";
        return result;
    }
    result.run = run;
    return result;
}

}  // namespace ztctl
