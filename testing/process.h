#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zt_testing {

// Asks done() every few milliseconds (at least once) until it says yes or timeout has
// passed; its last answer.
bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Where a spawned program's descriptors come from; -1 keeps the default.
struct spawn_options {
    int ns_fd = -1;      // mount namespace to enter before exec
    int stdin_fd = -1;   // default /dev/null
    int stdout_fd = -1;  // default inherited
    int stderr_fd = -1;  // default inherited
    int extra_fd = -1;   // becomes descriptor 3 in the program
    // The account the program runs as (no supplementary groups); 0 keeps the caller's.
    uid_t uid = 0;
    gid_t gid = 0;
    // Environment entries (NAME=value) replacing the caller's.
    std::optional<std::vector<std::string>> env = std::nullopt;
};

// One spawned program. Move-only; destroying a still running process kills and reaps it.
class child_process {
  public:
    child_process() = default;
    ~child_process() { reset(); }
    child_process(child_process&& other) noexcept { *this = std::move(other); }
    child_process& operator=(child_process&& other) noexcept;

    // Starts argv[0] with argv (exit status 127 when it cannot be run); throws
    // std::system_error when no process can be made.
    static child_process spawn(const std::vector<std::string>& argv,
                               const spawn_options& options = {});

    pid_t pid() const noexcept { return m_pid; }
    // True until the program has exited (it is reaped on the way).
    bool running() { return m_pid > 0 && !wait(std::chrono::milliseconds(0)); }
    // Waits up to timeout for the exit; the raw wait status, or nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // Sends sig unless the program has already been reaped.
    void signal(int sig);

  private:
    void reset() noexcept;

    pid_t m_pid = -1;
    std::optional<int> m_status;
};

// What a program wrote and how it ended (raw wait status; empty when it did not end in time).
struct run_result {
    std::optional<int> status;
    std::string out;
    std::string err;
};

// Runs argv, collecting standard output and error until every writer (detached descendants
// included) has closed them, within timeout.
run_result run_captured(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                        const spawn_options& options = {});

// The caller's environment without the entries named in drop or set by add, plus add.
std::vector<std::string> environment_with(const std::vector<std::string>& drop,
                                          const std::vector<std::string>& add);

}  // namespace zt_testing
