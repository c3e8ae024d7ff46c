#include "logging/logger.h"

#include <glib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <memory>

#include "logging/log_fields.h"

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

// The journal's writer; when standard error is a terminal, warnings and errors are also
// printed there, so a daemon started by hand says what went wrong.
GLogWriterOutput write_to_journal(GLogLevelFlags level, const GLogField* fields, gsize count,
                                  gpointer) {
    constexpr int kShown = G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | kErrorLevel;
    if ((level & kShown) != 0 && isatty(STDERR_FILENO) == 1) {
        for (gsize i = 0; i < count; ++i) {
            if (g_strcmp0(fields[i].key, "MESSAGE") == 0 && fields[i].length < 0) {
                std::fprintf(stderr, "ztctld: %s\n", static_cast<const char*>(fields[i].value));
            }
        }
    }
    return g_log_writer_journald(level, fields, count, nullptr);
}

}  // namespace

void Logger::init(const char* identifier) {
    if (identifier != nullptr) {
        m_domain = identifier;
    }
}

void Logger::set_journald() {
    // GLib accepts a writer only once per process.
    static const bool installed = [] {
        g_log_set_writer_func(write_to_journal, nullptr, nullptr);
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

    GLogField fields[6] = {
        {"MESSAGE", text.get(), -1},
        {"PRIORITY", info.priority, -1},
    };
    gsize count = 2;
    // A message before init carries no domain, like GLib's own undomained messages.
    if (!m_domain.empty()) {
        fields[count++] = {"GLIB_DOMAIN", m_domain.c_str(), -1};
    }
    for (const log_field f : {log_field::method, log_field::user, log_field::disk_uuid}) {
        const std::string& value = LogFields::get(f);
        if (!value.empty()) {
            fields[count++] = {log_field_name(f), value.c_str(), -1};
        }
    }
    g_log_structured_array(info.flags, fields, count);
}

}  // namespace ztl
