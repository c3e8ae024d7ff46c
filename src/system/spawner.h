#pragma once

#include <glib.h>

#include <string>
#include <utility>
#include <vector>

// Runs a program through GLib's spawn functions. The argument and environment strings are
// borrowed, not copied: the caller keeps them alive until the spawn call returns.
class Spawner {
  public:
    // How the child ended, decoded from the raw wait status.
    enum class SignalType : int {
        exited = 0,     // number: the exit code
        signaled = 1,   // number: the terminating signal
        stopped = 2,    // number: the stop signal
        continued = 3,  // number: 0
        unknown = 4,    // number: -1
    };

    // path is the program (an absolute path; the search path is not used) and argv[0].
    explicit Spawner(const char* path);

    // Appends arguments after the ones given so far.
    Spawner& argv(const std::vector<const char*>& list);
    // Replaces the child's environment ("NAME=value" entries).
    Spawner& envp(const std::vector<const char*>& list);
    // Appends entries to the child's environment.
    Spawner& append_env(const std::vector<const char*>& list);
    // Appends every entry of this process's own environment.
    Spawner& pass_env();
    // Sets the GLib spawn flags (GSpawnFlags bits).
    Spawner& setflags(int flags);

    // Runs the program and waits for it; true when GLib could run it (whatever the exit
    // status). An empty environment list gives the child an empty environment.
    bool spawn_sync(GError** error);
    // As above, capturing the child's standard output into out.
    bool spawn_sync(std::string& out, GError** error);
    // As above, capturing standard output into out and standard error into err.
    bool spawn_sync(std::string& out, std::string& err, GError** error);
    // Starts the program without waiting for it; the exit status is not collected.
    bool spawn_async(GError** error);

    // Decodes the raw wait status of the last synchronous run.
    std::pair<SignalType, int> get_exit_status() const noexcept;

    // Decodes a raw wait status; exposed so every status form can be checked directly.
    static std::pair<SignalType, int> decode_status(int status) noexcept;

  private:
    bool run_sync(gchar** out, gchar** err, GError** error);

    std::vector<const char*> m_argv;
    std::vector<const char*> m_envp;
    int m_flags = 0;
    int m_exit_status = 0;
};
