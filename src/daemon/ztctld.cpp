// The ztctld process: command line, detaching, pid file and the one Daemon.

#include <fcntl.h>
#include <getopt.h>
#include <libintl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "daemon/core_dumps.h"
#include "daemon/daemon.h"
#include "daemon/pid_file.h"
#include "daemon/service_paths.h"
#include "daemon/termination.h"
#include "foundation/i18n.h"

namespace {

// The SIGTERM path reaches the Daemon only through this pointer.
std::shared_ptr<Daemon> daemon_ptr;

void print_usage() {
    std::string text;
    text += _("Options");
    text += ":\n";
    text += "\t-d            ";
    text += _("Become daemon");
    text += "\n";
    text += "\t-h,  --help   ";
    text += _("Print this message");
    text += "\n";
    text += _("Return codes: \n");
    text += "0 - ";
    text += _("Success");
    text += "\n";
    text += "1 - ";
    text += _("Failure");
    text += "\n";
    std::fputs(text.c_str(), stdout);
}

void setup_locale() {
    std::setlocale(LC_ALL, "");
    bindtextdomain(ZT_TEXT_DOMAIN, ZT_LOCALE_DIR);
    textdomain(ZT_TEXT_DOMAIN);
}

// Detaches from the terminal: the original process and the session leader exit with 0,
// the grandchild goes on. Returns -1 when a fork fails.
int demonize() {
    // Nothing buffered may be written twice by the exiting parents.
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid > 0) {
        _exit(0);
    }
    setsid();
    pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid > 0) {
        _exit(0);
    }
    // Standard input goes; /dev/null takes its place so that no file opened later can
    // become descriptor 0 and be mistaken for input.
    close(0);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd > 0) {
        close(null_fd);  // descriptor 0 was somehow taken already; leave it be
    }
    return 0;
}

void parse_args(int argc, char** argv) {
    if (argc < 2) {
        return;
    }
    static const option long_options[] = {
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int opt = 0;
    while ((opt = getopt_long(argc, argv, "dh", long_options, nullptr)) != -1) {
        switch (opt) {
            case 'd':
                (void)demonize();
                break;
            case 'h':
                print_usage();
                std::exit(0);
            default:
                std::fflush(stdout);
                print_usage();
                std::exit(1);
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "%s: %s \"%s\"\n", argv[0], _("Unknown option"), argv[optind]);
        print_usage();
        std::exit(1);
    }
}

void signal_handler(int signal) {
    if (signal == SIGTERM && daemon_ptr) {
        daemon_ptr->stop();
    }
}

// Runs from the main loop, never in the signal context (see watch_termination).
void setup_signal_mask() {
    (void)watch_termination(signal_handler);
}

// The database is encoded and encrypted into buffers of its whole size at every save. Left to
// the default, the allocator maps such buffers afresh each time and returns them after, so
// every save of a database of a thousand users paid some hundreds of page faults; kept on the
// heap they are reused. The bounds stay low, so that the large calls a client may send (up to
// the bus's limit) are still mapped and returned, and the heap keeps at most a few MiB free.
// (Every buffer that held plain data is wiped before it is freed.)
void keep_large_buffers() {
    constexpr int kMiB = 1 << 20;
    (void)mallopt(M_MMAP_THRESHOLD, 2 * kMiB);
    (void)mallopt(M_TRIM_THRESHOLD, 4 * kMiB);
}

void setup_misc() {
    // First of all, before any secret is read. Both settings only ever narrow what is
    // allowed; there is nobody to tell yet should one fail.
    (void)forbid_core_dumps();
    keep_large_buffers();
    umask(0);
    if (chdir("/") != 0) {
        // The root directory always exists; nothing depends on the working directory.
    }
}

// Held, and locked, from update_pid until remove_pid.
pid_file running_pid_file;

// A second instance cannot take the lock: it leaves the running daemon's file alone and
// goes on without one.
void update_pid() {
    (void)running_pid_file.acquire(name::service::pid_path, getpid());
}

// Only the instance that wrote the file removes it.
void remove_pid() {
    running_pid_file.remove();
}

int daemon() {
    try {
        daemon_ptr = std::make_shared<Daemon>();
    } catch (const std::exception&) {
        return 1;
    }
    update_pid();
    if (daemon_ptr->initialize()) {
        daemon_ptr->start();
    }
    remove_pid();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setup_locale();
    parse_args(argc, argv);
    setup_signal_mask();
    setup_misc();
    return daemon();
}
