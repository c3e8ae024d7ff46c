#include "client/ztctl/password_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "client/client_error.h"
#include "foundation/i18n.h"
#include "system/cast.h"
#include "system/unique_fd.h"

namespace ztctl {

namespace {

// A password file holds one password; anything larger is not one.
constexpr std::size_t kMaxPasswordFile = 4096;

// Reads one line from fd into text (without the newline); false at end of input with
// nothing read. Byte by byte, so nothing after the line is consumed or buffered elsewhere.
bool read_line(int fd, std::string& text) {
    text.clear();
    char c = 0;
    bool any = false;
    ssize_t got = 0;
    while ((got = ::read(fd, &c, 1)) == 1 && text.size() <= kMaxPasswordFile) {
        any = true;
        if (c == '\n') {
            return true;
        }
        text += c;
    }
    return any;
}

// Terminal echo is off while this lives.
class echo_off {
  public:
    explicit echo_off(int fd) : m_fd(fd) {
        if (::tcgetattr(fd, &m_saved) == 0) {
            termios quiet = m_saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~echo_off() {
        if (m_active) {
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
        }
    }
    echo_off(const echo_off&) = delete;
    echo_off& operator=(const echo_off&) = delete;

  private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

// Reads one entry: from the terminal after prompt and without echo when standard input is
// one, else one line of standard input.
bool read_entry(const std::string& prompt, std::string& text) {
    if (!::isatty(STDIN_FILENO)) {
        return read_line(STDIN_FILENO, text);
    }
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    bool read = false;
    {
        const echo_off quiet(STDIN_FILENO);
        read = read_line(STDIN_FILENO, text);
    }
    std::fputc('\n', stderr);
    return read;
}

bool read_file(const std::string& path, std::string& text) {
    const os::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > kMaxPasswordFile) {
        return false;
    }
    text.reserve(kMaxPasswordFile + 1);
    char buffer[512];
    ssize_t got = 0;
    while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0 && text.size() <= kMaxPasswordFile) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    explicit_bzero(buffer, sizeof buffer);
    if (got < 0 || text.size() > kMaxPasswordFile) {
        return false;
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return true;
}

// The password in text (wiped here) as whole code points; client_error::no_password when
// nothing was read, it is empty or too long, or it is no UTF-8.
bool to_password(bool read, std::string& text, std::wstring& out, std::error_code& ec) {
    ec = client_error::no_password;
    if (read && !text.empty() && text.size() <= kMaxPasswordFile) {
        try {
            out = cast::to_wstring(text);
            ec.clear();
        } catch (const std::range_error&) {
        }
    }
    wipe(text);
    return !ec;
}

}  // namespace

void wipe(std::string& text) noexcept {
    if (!text.empty()) {
        explicit_bzero(text.data(), text.size());
    }
    text.clear();
}

void wipe(std::wstring& text) noexcept {
    if (!text.empty()) {
        explicit_bzero(text.data(), text.size() * sizeof(wchar_t));
    }
    text.clear();
}

bool read_password(const std::string& file, const std::string& account, std::wstring& out,
                   std::error_code& ec) {
    std::string text;
    // Room for the longest password up front, so that appending never moves it and leaves
    // an unwiped copy behind.
    text.reserve(kMaxPasswordFile + 1);
    // TRANSLATORS: the prompt for an account's password, the account name follows.
    const bool read = !file.empty()
                          ? read_file(file, text)
                          : read_entry(std::string(_("Password for")) + " " + account + ": ", text);
    return to_password(read, text, out, ec);
}

bool read_new_password(const std::string& file, const std::string& account, std::wstring& out,
                       std::error_code& ec) {
    std::string first;
    first.reserve(kMaxPasswordFile + 1);
    if (!file.empty()) {
        return to_password(read_file(file, first), first, out, ec);
    }
    // TRANSLATORS: the prompts for a new account's password, asked twice.
    const std::string prompt = account.empty()
                                   ? std::string(_("New password")) + ": "
                                   : std::string(_("New password for")) + " " + account + ": ";
    std::string second;
    second.reserve(kMaxPasswordFile + 1);
    const bool read = read_entry(prompt, first) &&
                      read_entry(std::string(_("Retype the new password")) + ": ", second);
    const bool same = read && first == second;
    wipe(second);
    if (read && !same) {
        wipe(first);
        ec = client_error::passwords_differ;
        return false;
    }
    return to_password(read, first, out, ec);
}

bool confirm(const std::string& question) {
    if (!::isatty(STDIN_FILENO)) {
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!read_line(STDIN_FILENO, answer)) {
        return false;
    }
    return !answer.empty() && (answer.front() == 'y' || answer.front() == 'Y');
}

}  // namespace ztctl
