// zt-sandbox: starts ztctld in a throw-away sandbox (private mount namespace, fake journal,
// private system bus), provisions its service directory, and reports what it logged, its
// exit status and its pid file. A daemon that reaches the bus is stopped with SIGTERM.
//
//   zt-sandbox [--seconds N] [-- daemon arguments...]

#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "testing/sandbox.h"

namespace {

int run(int argc, char** argv) {
    using zt_testing::sandbox;
    int seconds = 10;
    std::vector<std::string> daemon_args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::stoi(argv[++i]);
        } else if (arg == "--") {
            daemon_args.assign(argv + i + 1, argv + argc);
            break;
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [-- daemon arguments...]\n", argv[0]);
            return 2;
        }
    }
    if (const std::string reason = sandbox::unavailable_reason(); !reason.empty()) {
        std::fprintf(stderr, "zt-sandbox: cannot build a sandbox: %s\n", reason.c_str());
        return 2;
    }

    sandbox box;
    std::printf("sandbox: private mount namespace, fake journal, private system bus ready\n");
    const bool tool = sandbox::has_provisioning_tool();
    tool ? box.provision_with_tool() : box.provision();
    const std::string service = std::string(sandbox::service_dir) + "/service.bin";
    std::printf("sandbox: service directory provisioned %s\n",
                tool ? "by ztctl-provision (administrator \"admin\")"
                     : "with random bytes (provisioning tool not built)");
    std::printf("sandbox: /etc/ztctl/ztctl.conf:\n%s",
                box.read_file("/etc/ztctl/ztctl.conf").value_or("").c_str());
    std::printf("sandbox: %s (%zu bytes)\n", service.c_str(),
                box.read_file(service).value_or("").size());

    auto daemon = box.start_daemon(daemon_args);
    std::printf("sandbox: started %s (pid %d)\n", sandbox::daemon_path().c_str(), daemon.pid());
    const auto limit = std::chrono::seconds(seconds);
    if (box.wait_for_name("ru.quorvex.server", daemon, limit)) {
        std::printf("sandbox: ru.quorvex.server is owned; sending SIGTERM\n");
        daemon.signal(SIGTERM);
    }
    const auto status = daemon.wait(limit);

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
    const std::string ended = !status ? "still running"
                              : WIFEXITED(*status)
                                  ? "exited with status " + std::to_string(WEXITSTATUS(*status))
                                  : "killed by signal " + std::to_string(WTERMSIG(*status));
    std::printf("sandbox: ztctld %s; pid file %s\n", ended.c_str(),
                box.exists("/var/run/ztctld.pid") ? "still present" : "removed");
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zt-sandbox: %s\n", e.what());
        return 2;
    }
}
