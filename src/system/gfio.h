#pragma once

#include <glib.h>

#include <string>
#include <system_error>

// Whole-file helpers over GLib. A write replaces the file as a whole (a new file is
// renamed over the old one), so readers never see half of it.
namespace fio {

// Writes length bytes of data to path (length -1: data is NUL-terminated) and leaves the
// file with mode 0644. The file never exists with wider permissions, whatever the umask.
bool write_file(const std::string& path, const char* data, gssize length, GError** error);

// Same for a string.
bool write_file(const std::string& path, const std::string& data, GError** error);

// Same, reporting the errno behind GLib's error in the system category.
bool write_file(const std::string& path, const char* data, gssize length, std::error_code& ec);

// Same for a string, reporting through ec.
bool write_file(const std::string& path, const std::string& data, std::error_code& ec);

// The whole content of path (embedded zero bytes included); empty with error set on
// failure.
std::string read_file(const std::string& path, GError** error);

}  // namespace fio
