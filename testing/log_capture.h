#pragma once

#include <glib.h>

#include <map>
#include <string>
#include <vector>

namespace zt_testing {

// One logged message: every structured field by name (MESSAGE, PRIORITY, GLIB_DOMAIN, ...).
using log_record = std::map<std::string, std::string>;

// Stands in for the journal in unit tests: once started, every GLib structured log message of
// the process is kept here instead of being written anywhere.
class log_capture {
  public:
    // Installs the capture (once per process) and forgets what was kept so far.
    static std::vector<log_record>& start() {
        [[maybe_unused]] static const bool installed =
            (g_log_set_writer_func(writer, nullptr, nullptr), true);
        records().clear();
        return records();
    }
    // The messages kept since the last start(), in order.
    static std::vector<log_record>& records() {
        static std::vector<log_record> kept;
        return kept;
    }
    // The field key of every record kept, in order ("-" where absent).
    static std::vector<std::string> values(const std::string& key = "MESSAGE") {
        std::vector<std::string> out;
        for (const auto& r : records()) {
            out.push_back(r.contains(key) ? r.at(key) : "-");
        }
        return out;
    }

  private:
    static GLogWriterOutput writer(GLogLevelFlags, const GLogField* fields, gsize n, gpointer) {
        log_record& r = records().emplace_back();
        for (gsize i = 0; i < n; ++i) {
            const auto* value = static_cast<const char*>(fields[i].value);
            r[fields[i].key] = fields[i].length < 0
                                   ? std::string(value)
                                   : std::string(value, static_cast<std::size_t>(fields[i].length));
        }
        return G_LOG_WRITER_HANDLED;
    }
};

}  // namespace zt_testing
