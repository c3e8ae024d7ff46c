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

// A throw-away system for one test: a private mount namespace held by a child process,
// with fresh tmpfs over /etc/ztctl, /etc/dbus-1/system.d, /zt and /run, a fake journal at
// /run/systemd/journal/socket and (optionally) a private system bus on
// /run/dbus/system_bus_socket with the service's bus policy installed. Paths given to the
// methods are paths inside the sandbox. Nothing of the host is changed except that the
// empty mount points /etc/ztctl and /zt are created when missing.
class sandbox {
  public:
    struct options {
        bool with_bus = true;
    };

    // The service directory that provision() fills.
    static constexpr const char* service_dir = "/etc/ztctl/service";

    // Why a sandbox cannot be built here (not root, no mount namespaces, no dbus-daemon);
    // empty when it can.
    static std::string unavailable_reason(const options& opts);
    static std::string unavailable_reason() { return unavailable_reason(options{}); }

    // Builds the sandbox; throws std::runtime_error / std::system_error on failure.
    explicit sandbox(const options& opts);
    sandbox() : sandbox(options{}) {}
    // Kills every process left in the sandbox, then the namespace goes with its holder.
    ~sandbox() { release(); }
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    // The host path that reaches path inside the sandbox.
    std::string host_path(const std::string& path) const;

    // Writes content to path (creating parent directories); throws on failure.
    void write_file(const std::string& path, const std::string& content, mode_t mode = 0644) const;
    // The content of path, or nothing when it cannot be read.
    std::optional<std::string> read_file(const std::string& path) const;
    bool exists(const std::string& path) const;
    // Creates a FIFO at path (replacing any file there): a reader blocks until the test writes.
    void make_fifo(const std::string& path) const;
    // Replaces /etc/ztctl/ztctl.conf with text.
    void write_config(const std::string& text) const;

    // Provisions service_dir with a "service.bin" (a random 32-byte secret followed by
    // container_size random bytes) and a configuration naming it.
    void provision(std::size_t container_size = 96) const;

    // Whether the provisioning tool was built with the tests.
    static bool has_provisioning_tool();
    // Provisions service_dir with the project's provisioning tool (service secret, key
    // container and a database holding the administrators given as name and password) and
    // writes the configuration naming it. Throws std::runtime_error with the tool's output
    // when it is missing or fails.
    void provision_with_tool(const std::vector<std::pair<std::string, std::string>>& admins = {
                                 {"admin", "secret"}}) const;

    // Starts the ztctld under test inside the sandbox, with a fixed "C" locale.
    child_process start_daemon(const std::vector<std::string>& args = {},
                               spawn_options io = {}) const;
    // Starts any program inside the sandbox.
    child_process spawn(const std::vector<std::string>& argv, spawn_options io = {}) const;

    fake_journal& journal() { return *m_journal; }

    // The private bus's address as seen from the host (for clients in the test process).
    std::string bus_address() const;
    // Waits until name is owned on the private bus, owner exits, or timeout.
    bool wait_for_name(const std::string& name, child_process& owner,
                       std::chrono::milliseconds timeout) const;

    // The sandbox's mount namespace, for setns() in a forked child.
    int namespace_fd() const noexcept { return m_ns.get(); }

    // The daemon binary under test.
    static std::string daemon_path();

  private:
    void start_bus();
    // Ends everything the sandbox started; leaves the members empty.
    void release() noexcept;
    void kill_sandbox_processes() const;

    pid_t m_holder = -1;
    unique_fd m_control;  // closing it ends the holder
    unique_fd m_ns;       // the namespace's descriptor
    std::string m_root;   // /proc/<holder>/root
    std::unique_ptr<fake_journal> m_journal;
    child_process m_bus;
};

}  // namespace zt_testing
