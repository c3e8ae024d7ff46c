// The sandbox's encryption driver stand-in: zt-cryxd in the sandbox's private /dev, the
// module line it shows, and the orderly end of every disk when the sandbox goes.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "testing/cryx/cryx_control.h"
#include "testing/sandbox.h"
#include "testing/sandbox_dev.h"

namespace zt_testing {

namespace {

#ifdef ZT_CRYXD_PATH
constexpr const char* kCryxd = ZT_CRYXD_PATH;
constexpr const char* kPreload = ZT_CRYX_PRELOAD_PATH;
constexpr const char* kCtl = ZT_CRYX_CTL_PATH;
#else
constexpr const char* kCryxd = "";
constexpr const char* kPreload = "";
constexpr const char* kCtl = "";
#endif

const char* module_word(cryx_module state) {
    switch (state) {
        case cryx_module::absent:
            return "absent\n";
        case cryx_module::loading:
            return "loading\n";
        case cryx_module::live:
            break;
    }
    return "live\n";
}

// Processes whose mount namespace is the one open on ns_fd, but for the pids in except.
std::vector<pid_t> processes_inside(int ns_fd, std::initializer_list<pid_t> except) {
    std::vector<pid_t> pids;
    struct stat ns {};
    if (ns_fd < 0 || fstat(ns_fd, &ns) != 0) {
        return pids;
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename();
        struct stat other {};
        if (name.find_first_not_of("0123456789") != std::string::npos ||
            stat(("/proc/" + name + "/ns/mnt").c_str(), &other) != 0 || other.st_ino != ns.st_ino ||
            other.st_dev != ns.st_dev) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (std::find(except.begin(), except.end(), pid) == except.end()) {
            pids.push_back(pid);
        }
    }
    return pids;
}

}  // namespace

std::string sandbox::cryx_unavailable_reason() {
    if (*kCryxd == '\0') {
        return "the encryption driver stand-in is not built (libfuse3 missing at configure time)";
    }
    for (const char* file : {kCryxd, kPreload, kCtl}) {
        if (access(file, R_OK) != 0) {
            return std::string("the encryption driver stand-in is not built: ") + file;
        }
    }
    for (const char* node : {"/dev/fuse", "/dev/loop-control"}) {
        struct stat st {};
        if (stat(node, &st) != 0 || !S_ISCHR(st.st_mode)) {
            return std::string("the driver stand-in needs ") + node;
        }
    }
    std::ifstream filesystems("/proc/filesystems");
    std::ostringstream text;
    text << filesystems.rdbuf();
    if (text.str().find("\tfuse\n") == std::string::npos) {
        return "the kernel has no FUSE file system";
    }
    return {};
}

std::string sandbox::cryx_ctl_path() {
    return kCtl;
}

std::string sandbox::cryx_preload_path() {
    return kPreload;
}

std::vector<std::string> sandbox::cryx_environment() const {
    if (!m_with_cryx) {
        return environment_with({}, {});
    }
    return environment_with({"LD_PRELOAD", "ASAN_OPTIONS"}, cryx_preload_entries());
}

std::vector<std::string> sandbox::cryx_preload_entries() {
    return preload_entries(cryx_preload_path());
}

void sandbox::set_cryx_module(cryx_module state) const {
    if (!m_with_cryx) {
        throw std::logic_error("this sandbox has no encryption driver stand-in");
    }
    write_file(zt_cryx::module_state_file, module_word(state), 0600);
}

void sandbox::start_cryx(cryx_module module) {
    sandbox_dev::populate_private_dev(host_path("/dev"));
    const std::string run_dir = host_path(zt_cryx::run_dir);
    if (mkdir(run_dir.c_str(), 0700) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkdir " + run_dir);
    }
    m_with_cryx = true;
    set_cryx_module(module);

    pipe_ends ready = make_pipe();
    const std::string log_path = "/run/zt-sandbox/cryxd.log";
    const unique_fd log(
        open(host_path(log_path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    m_cryxd =
        spawn({kCryxd, "--ready-fd", "3"},
              {.stdout_fd = log.get(), .stderr_fd = log.get(), .extra_fd = ready.write.get()});
    ready.write.reset();
    // The driver says so once it listens; an end of file means it died.
    char word[8] = {};
    ssize_t got = 0;
    while ((got = read(ready.read.get(), word, sizeof word - 1)) < 0 && errno == EINTR) {
    }
    if (got <= 0 || std::string(word) != "ready\n") {
        throw std::runtime_error("the encryption driver stand-in did not start: " +
                                 read_file(log_path).value_or(""));
    }
}

void sandbox::release_disks() noexcept {
    if (m_holder <= 0 || m_ns.get() < 0) {
        return;
    }
    // Nothing may use a disk while it goes: every process but the holder and the driver ends.
    for (const pid_t pid : processes_inside(m_ns.get(), {m_holder, m_cryxd.pid()})) {
        kill(pid, SIGKILL);
    }
    wait_until(
        [&] {
            return processes_inside(m_ns.get(), {m_holder, m_cryxd.pid()}).empty();
        },
        std::chrono::seconds(10));
    try {
        sandbox_dev::unmount_inside(m_ns.get(), sandbox_dev::loop_mount_points(m_holder));
    } catch (...) {
        // What stays mounted goes with the namespace.
    }
    if (m_cryxd.running()) {
        m_cryxd.signal(SIGTERM);
        if (!m_cryxd.wait(std::chrono::seconds(30))) {
            m_cryxd.signal(SIGKILL);
            m_cryxd.wait(std::chrono::seconds(10));
        }
    }
    m_released_loops = sandbox_dev::detach_sandbox_loops(
        m_holder, m_with_cryx ? host_path("/dev") : std::string("/dev"));
}

}  // namespace zt_testing
