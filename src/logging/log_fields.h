#pragma once

#include <string>

namespace ztl {

// What a journal entry is about, carried as a field of its own beside the message so that
// `journalctl ZTCTL_USER=alice` finds every entry about alice. The message texts do not
// change.
enum class log_field { method, user, disk_uuid };

// The journal field name of f: "ZTCTL_METHOD", "ZTCTL_USER" or "ZTCTL_DISK_UUID".
const char* log_field_name(log_field f) noexcept;

// The fields of the request being served. The daemon serves one request at a time on its one
// thread, so they are one set for the process: the request frame opens it with the method
// and clears it at the end, and handlers add the user and the disk once they know them.
class LogFields {
  public:
    LogFields() = delete;

    // Sets f for the rest of the request; an empty value removes it.
    static void set(log_field f, std::string value);
    // The current value of f, empty when unset.
    static const std::string& get(log_field f) noexcept;
    // Removes every field.
    static void clear() noexcept;
};

// One request: sets the method field and clears all fields when it ends, whatever path the
// request takes.
class RequestLogScope {
  public:
    explicit RequestLogScope(const char* method);
    ~RequestLogScope();
    RequestLogScope(const RequestLogScope&) = delete;
    RequestLogScope& operator=(const RequestLogScope&) = delete;
};

}  // namespace ztl
