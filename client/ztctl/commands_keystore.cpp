// keystore create, and the key store that user add makes itself.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "client/client_error.h"
#include "client/keystore.h"
#include "client/ztctl/command_support.h"
#include "client/ztctl/password_input.h"
#include "foundation/i18n.h"
#include "system/unique_fd.h"
#include "system/wipe.h"

namespace ztctl::detail {

namespace {

std::error_code last_error() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

// A new file that is removed again unless the command keeps it.
class new_file {
  public:
    // Creates path with mode 0600; never opens an existing file or follows a link.
    bool create(const std::string& path, std::error_code& ec) {
        m_fd.reset(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!m_fd) {
            ec = last_error();
            return false;
        }
        m_path = path;
        // The mode is exact whatever the umask is.
        if (::fchmod(m_fd.get(), 0600) != 0) {
            ec = last_error();
            return false;
        }
        ec.clear();
        return true;
    }

    // Writes data, flushes it to the disk and closes the file, which stays.
    bool commit(const bytes& data, std::error_code& ec) {
        std::size_t written = 0;
        while (written < data.size()) {
            const ssize_t n = ::write(m_fd.get(), data.data() + written, data.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ec = last_error();
                return false;
            }
            written += static_cast<std::size_t>(n);
        }
        if (::fsync(m_fd.get()) != 0 || !m_fd.close()) {
            ec = last_error();
            return false;
        }
        m_path.clear();
        ec.clear();
        return true;
    }

    ~new_file() {
        if (!m_path.empty()) {
            m_fd.reset();
            ::unlink(m_path.c_str());
        }
    }

    new_file() = default;
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;

  private:
    os::unique_fd m_fd;
    std::string m_path;
};

}  // namespace

bool make_keystore(client::session& s, const invocation& what, const prompts& ask,
                   const client::session_options& options, const std::string& account, bytes& file,
                   result& failure) {
    bytes key;
    bool pinned = false;
    if (!service_public_key(s, what, options, key, pinned, failure)) {
        return false;
    }
    std::error_code ec;
    std::wstring password;
    if (!ask.new_password(account, password, ec)) {
        failure = failed(what, stage::setup, ec, false);
        failure.status = kExitUsage;
        return false;
    }
    const crypto_factory factory = client::seeded_factory();
    const bool prepared = client::prepare_keystore(factory, key, password, file, ec);
    wipe(password);
    if (!prepared) {
        failure = failed(what, stage::request, ec, false);
    }
    return prepared;
}

result keystore_create(const invocation& what, const prompts& ask,
                       const client::session_options& options) {
    // The file first: an existing one is refused before anyone types a password.
    new_file out;
    std::error_code ec;
    if (!out.create(what.out_file, ec)) {
        return failed(what, stage::request, ec, false);
    }
    // The service's key is public: a clear session serves it, no account is needed.
    client::session s(options);
    result failure;
    bytes file;
    if (!open_clear(s, what, failure) || !make_keystore(s, what, ask, options, {}, file, failure)) {
        return failure;
    }
    close_quietly(s);
    const bool written = out.commit(file, ec);
    util::wipe(file);
    if (!written) {
        return failed(what, stage::request, ec, false);
    }
    result r = succeeded(what);
    r.fields = {{"file", what.out_file}};
    r.text = std::string(_("The key store is written to")) + " " + what.out_file + "\n" +
             _("An administrator registers it with: ztctl user add NAME --keystore FILE") + "\n";
    return r;
}

}  // namespace ztctl::detail
