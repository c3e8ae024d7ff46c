#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testing/fake_journal.h"
#include "testing/process.h"
#include "testing/unique_fd.h"

namespace zt_testing {

// The encryption driver's line in "/proc/modules" as the daemon is shown it.
enum class cryx_module { absent, loading, live };

struct sandbox_options {
    bool with_bus = true;  // a private system bus with the service's policy
    // The encryption driver stand-in: a private /dev, zt-cryxd started before the daemon and
    // its preload library in the daemon's environment.
    bool with_cryx = false;
    cryx_module module = cryx_module::live;  // with_cryx: the module line shown at the start
};

// A throw-away system for one test: a private mount namespace held by a child process, with
// fresh tmpfs over /etc/ztctl, /etc/dbus-1/system.d, /zt and /run, a fake journal at
// /run/systemd/journal/socket and optionally a private bus on /run/dbus/system_bus_socket.
// Paths given to the methods are paths inside. The host's files stay visible inside, but the
// host itself never changes: mount points it lacks are made in mirrors of their parents
// (tmpfs holding bind mounts of the parent's entries), the root's one included.
class sandbox {
  public:
    using options = sandbox_options;
    // The service directory that provision() fills.
    static constexpr const char* service_dir = "/etc/ztctl/service";

    // Why a sandbox cannot be built here (not root, no namespaces, ...); empty if it can.
    static std::string unavailable_reason(const options& opts = {});
    // Builds the sandbox; throws std::runtime_error / std::system_error on failure.
    explicit sandbox(const options& opts = {});
    // Kills every process left in the sandbox; the namespace goes with its holder.
    ~sandbox() { release(); }
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    // The host path that reaches path inside the sandbox (links resolved inside).
    std::string host_path(const std::string& path) const;
    // Writes content to path, creating parent directories; throws on failure.
    void write_file(const std::string& path, const std::string& content, mode_t mode = 0644) const;
    // The content of path, or nothing when it cannot be read.
    std::optional<std::string> read_file(const std::string& path) const;
    bool exists(const std::string& path) const;
    // Replaces path with a FIFO: a reader blocks until the test writes.
    void make_fifo(const std::string& path) const;
    // Replaces /etc/ztctl/ztctl.conf with text.
    void write_config(const std::string& text) const { write_file("/etc/ztctl/ztctl.conf", text); }

    // A system account of the sandbox only (its private /etc/passwd, /etc/group and
    // /etc/shadow): a new uid and a group of its own, home "/", no password. Throws when the
    // name is taken or the files cannot be written.
    struct account {
        uid_t uid;
        gid_t gid;
    };
    account add_account(const std::string& name) const;

    // Fills service_dir with a "service.bin" of a random 32-byte secret and container_size
    // random bytes, and a configuration naming it.
    void provision(std::size_t container_size = 96) const;
    // Whether the provisioning tool was built with the tests.
    static bool has_provisioning_tool();
    // Provisions service_dir with the project's tool (secret, key container, a database of the
    // administrators given as name and password) and its configuration; throws
    // std::runtime_error with the tool's output when it is missing or fails.
    void provision_with_tool(const std::vector<std::pair<std::string, std::string>>& admins = {
                                 {"admin", "secret"}}) const;

    // Starts the ztctld under test inside, with the "C" locale and the default bus address;
    // with a fault (see testing/fault/fault_preload.cpp, "OP:SUFFIX:N:ACTION") the daemon runs
    // with the fault injector preloaded. Not with the driver stand-in's preload library.
    child_process start_daemon(const std::vector<std::string>& args = {}, spawn_options io = {},
                               const std::string& fault = {}) const;
    child_process spawn(const std::vector<std::string>& argv, spawn_options io = {}) const;

    // With the driver stand-in: changes the module line that "/proc/modules" shows from now
    // on. Throws when the sandbox has no stand-in.
    void set_cryx_module(cryx_module state) const;
    // The caller's environment with the stand-in's preload library, as the daemon gets it: a
    // program run with it sees the driver as the daemon does.
    std::vector<std::string> cryx_environment() const;
    // zt-cryx-ctl, which drives the driver through its control node (empty when not built).
    static std::string cryx_ctl_path();
    // The preload library (empty when not built).
    static std::string cryx_preload_path();
    // The driver process, -1 without the stand-in.
    pid_t cryx_driver_pid() const noexcept { return m_cryxd.pid(); }

    fake_journal& journal() { return *m_journal; }
    std::string bus_address() const;  // the private bus's, as seen from the host
    // Waits until name is owned on the private bus, owner exits, or timeout.
    bool wait_for_name(const std::string& name, child_process& owner,
                       std::chrono::milliseconds timeout) const;
    // The sandbox's mount namespace, for setns() in a forked child.
    int namespace_fd() const noexcept { return m_ns.get(); }
    static std::string daemon_path();  // the daemon binary under test

  private:
    // Why the driver stand-in cannot run here; empty if it can.
    static std::string cryx_unavailable_reason();
    // The environment entries that load the preload library into a program.
    static std::vector<std::string> cryx_preload_entries();
    // LD_PRELOAD of library, and what a sanitized program needs to accept it.
    static std::vector<std::string> preload_entries(const std::string& library);
    void start_bus();
    // Starts zt-cryxd in the private /dev the holder mounted, with the module line given.
    void start_cryx(cryx_module module);
    // Ends everything the sandbox started.
    void release() noexcept;
    // The first part of release: ends every process inside but the driver, unmounts what is
    // mounted from loop devices, stops the driver and detaches the loop devices of files on
    // the sandbox's own file systems (into m_released_loops).
    void release_disks() noexcept;

    pid_t m_holder = -1;
    unique_fd m_ns;
    std::string m_root;  // /proc/<holder>/root
    std::unique_ptr<fake_journal> m_journal;
    child_process m_bus;
    bool m_with_cryx = false;
    child_process m_cryxd;
    std::vector<long> m_released_loops;
};

}  // namespace zt_testing
