// zt-sandbox: runs ztctld in a throw-away sandbox (private mount namespace, fake journal,
// private system bus) with a service directory provisioned for the administrator "admin".
//
//   zt-sandbox [--seconds N] [--module STATE] [--daemon-arg ARG]... [--account NAME]...
//              [-- COMMAND [ARGS...]]
//
// Where the encryption driver stand-in is built and can run, the sandbox has it (its own
// /dev, zt-cryxd, the preload library in the daemon's environment); --module absent|loading|
// live (default live) chooses the driver's line in "/proc/modules" and requires the stand-in.
//
// Without a command it starts the daemon, stops it with SIGTERM once it owns its bus name
// and reports its journal lines, exit status and pid file. With a command it runs COMMAND
// as root inside the sandbox once the daemon owns its name, with the built ztctl first on
// PATH and ZT_SANDBOX_ADMIN_PASSWORD_FILE naming the administrator's password file; then it
// stops the daemon and exits with COMMAND's status (125 when no sandbox can be built).
//
// Environment: ZT_SANDBOX_ADMIN_PASSWORD_FILE (read before the start) gives the
// administrator's password (default "secret"); ZT_SANDBOX_JOURNAL names a file that receives
// the daemon's journal entries, one JSON object per line. A command also gets
// ZT_CRYX_PRELOAD naming the preload library (with the stand-in), zt-cryx-ctl on PATH, and
// ZT_SANDBOX_JOURNAL_LIVE naming a file inside that holds the journal so far, "<priority>
// message" a line, brought up to date every 20 ms while the command runs.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

using zt_testing::sandbox;

constexpr int kCannotBuild = 125;

// Set by SIGINT, SIGTERM or SIGHUP: the sandbox must still be torn down (loop devices the
// disks use are the host's until they are detached).
volatile std::sig_atomic_t g_stop_requested = 0;

extern "C" void request_stop(int) {
    g_stop_requested = 1;
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &action, nullptr);
    }
}
constexpr const char* kPasswordFileInside = "/run/zt-sandbox/admin.password";

struct options {
    int seconds = 10;
    std::optional<zt_testing::cryx_module> module;
    std::vector<std::string> daemon_args;
    std::vector<std::string> accounts;
    std::vector<std::string> command;
};

bool parse(int argc, char** argv, options& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            out.seconds = std::atoi(argv[++i]);
        } else if (arg == "--module" && i + 1 < argc) {
            const std::string state = argv[++i];
            if (state == "absent") {
                out.module = zt_testing::cryx_module::absent;
            } else if (state == "loading") {
                out.module = zt_testing::cryx_module::loading;
            } else if (state == "live") {
                out.module = zt_testing::cryx_module::live;
            } else {
                return false;
            }
        } else if (arg == "--daemon-arg" && i + 1 < argc) {
            out.daemon_args.emplace_back(argv[++i]);
        } else if (arg == "--account" && i + 1 < argc) {
            out.accounts.emplace_back(argv[++i]);
        } else if (arg == "--" && i + 1 < argc) {
            out.command.assign(argv + i + 1, argv + argc);
            return true;
        } else {
            return false;
        }
    }
    return out.seconds > 0;
}

// The administrator's password: the file's first line, or "secret".
std::string admin_password() {
    const char* file = std::getenv("ZT_SANDBOX_ADMIN_PASSWORD_FILE");
    if (file == nullptr || *file == '\0') {
        return "secret";
    }
    std::ifstream in(file);
    std::string password;
    if (!in || !std::getline(in, password) || password.empty()) {
        throw std::runtime_error(std::string("no password in ") + file);
    }
    return password;
}

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += {'\\', c};
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Every journal entry of the sandbox, one JSON object of its fields per line.
void write_journal(sandbox& box, const std::string& path) {
    std::ofstream out(path, std::ios::trunc);
    for (const auto& entry : box.journal().entries_of("ztctld")) {
        std::string line = "{";
        for (const auto& [key, value] : entry.fields) {
            line += (line.size() > 1 ? "," : "") + json_string(key) + ":" + json_string(value);
        }
        out << line << "}\n";
    }
}

void print_journal(sandbox& box) {
    std::printf("journal (domain ztctld):\n");
    for (const auto& entry : box.journal().entries_of("ztctld")) {
        const std::string p = entry.priority();
        std::printf("  <%s> %-7s %s\n", p.c_str(),
                    p == "3"   ? "error"
                    : p == "4" ? "warning"
                    : p == "6" ? "info"
                               : "other",
                    entry.message().c_str());
    }
}

std::string describe(const std::optional<int>& status) {
    if (!status) {
        return "still running";
    }
    return WIFEXITED(*status) ? "exited with status " + std::to_string(WEXITSTATUS(*status))
                              : "killed by signal " + std::to_string(WTERMSIG(*status));
}

// Inside the sandbox: the daemon's journal so far, "<priority> message" a line, kept up to date
// while a command runs, so that a script can show what the daemon logged for each step.
constexpr const char* kLiveJournal = "/run/zt-sandbox/journal.txt";

// Rewrites the live journal when entries arrived since it was last written; written whole
// and renamed into place, so a reader never meets half a file.
void update_live_journal(sandbox& box, std::size_t& written) {
    const auto entries = box.journal().entries_of("ztctld");
    if (entries.size() == written) {
        return;
    }
    const std::string path = box.host_path(kLiveJournal);
    {
        std::ofstream out(path + ".part", std::ios::trunc);
        for (const auto& entry : entries) {
            std::string message = entry.message();
            std::replace(message.begin(), message.end(), '\n', ' ');
            out << '<' << entry.priority() << "> " << message << '\n';
        }
    }
    std::filesystem::rename(path + ".part", path);
    written = entries.size();
}

// Runs the command inside, as root, with the built ztctl first on PATH; its exit status.
int run_command(sandbox& box, const std::vector<std::string>& command, bool cryx) {
    std::string path = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    if (const std::string ctl = sandbox::cryx_ctl_path(); !ctl.empty()) {
        path = ctl.substr(0, ctl.rfind('/')) + ":" + path;
    }
#ifdef ZT_ZTCTL_DIR
    path = std::string(ZT_ZTCTL_DIR) + ":" + path;
#endif
    zt_testing::spawn_options io{.stdin_fd = STDIN_FILENO};
    std::vector<std::string> add{
        "PATH=" + path, std::string("ZT_SANDBOX_ADMIN_PASSWORD_FILE=") + kPasswordFileInside,
        std::string("ZT_SANDBOX_JOURNAL_LIVE=") + kLiveJournal};
    if (cryx) {
        add.push_back("ZT_CRYX_PRELOAD=" + sandbox::cryx_preload_path());
    }
    io.env = zt_testing::environment_with(
        {"PATH", "ZT_SANDBOX_ADMIN_PASSWORD_FILE", "DBUS_SYSTEM_BUS_ADDRESS", "ZT_CRYX_PRELOAD",
         "ZT_SANDBOX_JOURNAL_LIVE"},
        add);
    // The program is looked up on that PATH, as a shell would.
    std::vector<std::string> argv = command;
    if (argv.front().find('/') == std::string::npos) {
        for (std::size_t start = 0; start <= path.size();) {
            const std::size_t end = std::min(path.find(':', start), path.size());
            const std::string candidate = path.substr(start, end - start) + "/" + argv.front();
            if (::access(box.host_path(candidate).c_str(), X_OK) == 0) {
                argv.front() = candidate;
                break;
            }
            start = end + 1;
        }
    }
    std::size_t journal_written = static_cast<std::size_t>(-1);
    update_live_journal(box, journal_written);
    auto child = box.spawn(argv, io);
    // A signal to zt-sandbox ends the command, and the sandbox then ends as always.
    std::optional<int> status;
    int ticks_since_stop = -1;  // -1: no stop requested yet
    while (!(status = child.wait(std::chrono::milliseconds(20)))) {
        update_live_journal(box, journal_written);
        if (g_stop_requested != 0 && ticks_since_stop < 0) {
            child.signal(SIGTERM);
            ticks_since_stop = 0;
        } else if (ticks_since_stop >= 0 && ++ticks_since_stop == 500) {
            child.signal(SIGKILL);  // ten seconds after the request
        }
    }
    if (!status) {
        return 1;
    }
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

int run(const options& opts) {
    if (const std::string reason = sandbox::unavailable_reason(); !reason.empty()) {
        std::fprintf(stderr, "zt-sandbox: cannot build a sandbox: %s\n", reason.c_str());
        return kCannotBuild;
    }
    const bool report = opts.command.empty();
    // The driver stand-in wherever it can run; asked for by name, it must.
    sandbox::options box_options{.with_cryx = true,
                                 .module = opts.module.value_or(zt_testing::cryx_module::live)};
    const std::string cryx_reason = sandbox::unavailable_reason(box_options);
    if (!cryx_reason.empty()) {
        if (opts.module) {
            std::fprintf(stderr, "zt-sandbox: no encryption driver stand-in: %s\n",
                         cryx_reason.c_str());
            return kCannotBuild;
        }
        box_options.with_cryx = false;
    }
    sandbox box(box_options);
    const bool tool = sandbox::has_provisioning_tool();
    tool ? box.provision_with_tool({{"admin", admin_password()}}) : box.provision();
    if (report) {
        const std::string service = std::string(sandbox::service_dir) + "/service.bin";
        std::printf("sandbox: private mount namespace, fake journal, private system bus ready\n");
        std::printf("sandbox: service directory provisioned %s\n",
                    tool ? "by ztctl-provision (administrator \"admin\")"
                         : "with random bytes (provisioning tool not built)");
        std::printf("sandbox: /etc/ztctl/ztctl.conf:\n%s",
                    box.read_file("/etc/ztctl/ztctl.conf").value_or("").c_str());
        std::printf("sandbox: %s (%zu bytes)\n", service.c_str(),
                    box.read_file(service).value_or("").size());
        if (box_options.with_cryx) {
            const char* lines[] = {"absent", "Loading", "Live"};
            std::printf(
                "sandbox: disks use the encryption driver stand-in zt-cryxd, not the kernel "
                "module (module line: %s)\n",
                lines[static_cast<int>(box_options.module)]);
        } else {
            std::printf("sandbox: no encryption driver stand-in: %s\n", cryx_reason.c_str());
        }
    }

    for (const auto& name : opts.accounts) {
        const auto made = box.add_account(name);
        if (report) {
            std::printf("sandbox: account %s (uid %u)\n", name.c_str(), made.uid);
        }
    }
    auto daemon = box.start_daemon(opts.daemon_args);
    const auto limit = std::chrono::seconds(opts.seconds);
    const bool owned = box.wait_for_name("ru.quorvex.server", daemon, limit);
    int result = 0;
    if (report) {
        std::printf("sandbox: started %s (pid %d)\n", sandbox::daemon_path().c_str(), daemon.pid());
        if (owned) {
            std::printf("sandbox: ru.quorvex.server is owned; sending SIGTERM\n");
        }
    } else if (!owned) {
        std::fprintf(stderr, "zt-sandbox: ztctld did not take its bus name (%s)\n",
                     describe(daemon.wait(std::chrono::milliseconds(0))).c_str());
        result = kCannotBuild;
    } else {
        result = run_command(box, opts.command, box_options.with_cryx);
    }
    if (daemon.running()) {
        daemon.signal(SIGTERM);
    }
    const auto status = daemon.wait(limit);
    if (const char* journal = std::getenv("ZT_SANDBOX_JOURNAL"); journal && *journal) {
        write_journal(box, journal);
    }
    if (!report) {
        return result;
    }
    print_journal(box);
    std::printf("sandbox: ztctld %s; pid file %s\n", describe(status).c_str(),
                box.exists("/var/run/ztctld.pid") ? "still present" : "removed");
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    options opts;
    if (!parse(argc, argv, opts)) {
        std::fprintf(stderr,
                     "usage: %s [--seconds N] [--module absent|loading|live] [--daemon-arg ARG]... "
                     "[--account NAME]... [-- COMMAND [ARGS...]]\n",
                     argv[0]);
        return 2;
    }
    catch_stop_signals();
    try {
        return run(opts);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zt-sandbox: %s\n", e.what());
        return kCannotBuild;
    }
}
