#include "system/gfio.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <memory>

#include "system/glib_error.h"

namespace fio {

namespace {

constexpr int kFileMode = 0644;

struct g_free_deleter {
    void operator()(gchar* p) const noexcept { g_free(p); }
};

}  // namespace

bool write_file(const std::string& path, const char* data, gssize length, GError** error) {
    // Creating the file with its final mode closes the window in which a daemon running
    // with umask 0 would leave a world-writable file behind.
    const auto flags = static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                          G_FILE_SET_CONTENTS_ONLY_EXISTING);
    if (!g_file_set_contents_full(path.c_str(), data, length, flags, kFileMode, error)) {
        return false;
    }
    // An umask narrower than 0022 would have taken bits away; the mode is fixed here.
    if (g_chmod(path.c_str(), kFileMode) != 0) {
        const int err = errno;
        g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(err), "%s: %s", path.c_str(),
                    g_strerror(err));
        return false;
    }
    return true;
}

bool write_file(const std::string& path, const std::string& data, GError** error) {
    return write_file(path, data.data(), static_cast<gssize>(data.size()), error);
}

bool write_file(const std::string& path, const char* data, gssize length, std::error_code& ec) {
    ec.clear();
    GError* error = nullptr;
    if (write_file(path, data, length, &error)) {
        return true;
    }
    ec.assign(sys::glib_errno(error), std::system_category());
    g_clear_error(&error);
    return false;
}

bool write_file(const std::string& path, const std::string& data, std::error_code& ec) {
    return write_file(path, data.data(), static_cast<gssize>(data.size()), ec);
}

std::string read_file(const std::string& path, GError** error) {
    gchar* raw = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &raw, &length, error)) {
        return {};
    }
    std::unique_ptr<gchar, g_free_deleter> owned(raw);
    return std::string(owned.get(), length);
}

}  // namespace fio
