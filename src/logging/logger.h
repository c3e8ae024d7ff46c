#pragma once

#include <string>

namespace ztl {

// The daemon's logging facade over GLib's structured logging. Every message carries the
// domain current at the time of the call; there is no severity filter and logging never
// reports failure (a message the destination does not take is lost).
class Logger {
  public:
    Logger() = delete;

    // Sets the log domain; a null identifier leaves it unchanged.
    static void init(const char* identifier);

    // Sends every message of the process to the systemd journal from now on. Idempotent.
    static void set_journald();

    // Journal priority 3. Returns to the caller like the other levels; the caller decides
    // what happens next.
    template <typename... Args>
    static void error(const char* format, const Args&... args) {
        write(level::error, format, forward(args)...);
    }

    // Journal priority 4.
    template <typename... Args>
    static void critical(const char* format, const Args&... args) {
        write(level::critical, format, forward(args)...);
    }

    // Journal priority 4.
    template <typename... Args>
    static void warning(const char* format, const Args&... args) {
        write(level::warning, format, forward(args)...);
    }

    // Journal priority 6.
    template <typename... Args>
    static void info(const char* format, const Args&... args) {
        write(level::info, format, forward(args)...);
    }

    // Every argument reaches the format as a C string; only strings are accepted, so a
    // "%s" can never meet a number.
    static const char* forward(const std::string& arg) noexcept { return arg.c_str(); }
    static const char* forward(const char* arg) noexcept { return arg; }

    // The current domain (empty before init).
    static const std::string& domain() noexcept { return m_domain; }

  private:
    enum class level { error, critical, warning, info };

    // Expands format with the C-string arguments and hands the text to GLib.
    static void write(level severity, const char* format, ...);

    static inline std::string m_domain;
};

}  // namespace ztl
