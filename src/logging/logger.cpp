#include "logging/logger.h"

#include <glib.h>

#include <cstdarg>
#include <memory>

namespace ztl {

namespace {

struct gfree_deleter {
    void operator()(char* p) const noexcept { g_free(p); }
};

// GLib treats its own error level as always fatal, so error messages travel with the
// message level, which nothing makes fatal, and carry their journal priority explicitly:
// the journald writer takes the PRIORITY field as given.
constexpr GLogLevelFlags kErrorLevel = G_LOG_LEVEL_MESSAGE;

struct level_info {
    GLogLevelFlags flags;
    const char* priority;
};

}  // namespace

void Logger::init(const char* identifier) {
    if (identifier != nullptr) {
        m_domain = identifier;
    }
}

void Logger::set_journald() {
    // GLib accepts a writer only once per process.
    static const bool installed = [] {
        g_log_set_writer_func(g_log_writer_journald, nullptr, nullptr);
        return true;
    }();
    (void)installed;
}

void Logger::write(level severity, const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    level_info info{};
    switch (severity) {
        case level::error:
            info = {kErrorLevel, "3"};
            break;
        case level::critical:
            info = {G_LOG_LEVEL_CRITICAL, "4"};
            break;
        case level::warning:
            info = {G_LOG_LEVEL_WARNING, "4"};
            break;
        case level::info:
            info = {G_LOG_LEVEL_INFO, "6"};
            break;
    }

    va_list args;
    va_start(args, format);
    // The formats are the daemon's own literals; every argument is a C string.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::unique_ptr<char, gfree_deleter> text(g_strdup_vprintf(format, args));
#pragma GCC diagnostic pop
    va_end(args);

    GLogField fields[3] = {
        {"MESSAGE", text.get(), -1},
        {"PRIORITY", info.priority, -1},
        {"GLIB_DOMAIN", m_domain.c_str(), -1},
    };
    // A message before init carries no domain, like GLib's own undomained messages.
    const gsize count = m_domain.empty() ? 2 : 3;
    g_log_structured_array(info.flags, fields, count);
}

}  // namespace ztl
