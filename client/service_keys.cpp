#include "client/service_keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "client/client_error.h"
#include "system/unique_fd.h"

namespace client {

namespace {

constexpr std::size_t kKeyAgreementSize = 32;
// A pin file holds two short keys; anything much larger is not one.
constexpr std::size_t kMaxFileSize = 4096;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool from_hex(const std::string& text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 2 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]);
        const int low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return true;
}

std::string to_hex(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

bool refuse(std::error_code& ec) {
    ec = client_error::bad_pin_file;
    return false;
}

}  // namespace

bool parse_service_keys(const std::string& text, service_keys& out, std::error_code& ec) {
    service_keys keys;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string value;
        std::string extra;
        if (!(fields >> name) || name.front() == '#') {
            continue;
        }
        std::vector<unsigned char>* target = name == "asymmetric"      ? &keys.asymmetric
                                             : name == "key-agreement" ? &keys.key_agreement
                                                                       : nullptr;
        if (target == nullptr || !target->empty() || !(fields >> value) || (fields >> extra) ||
            !from_hex(value, *target)) {
            return refuse(ec);
        }
    }
    if (keys.asymmetric.empty() || keys.key_agreement.size() != kKeyAgreementSize) {
        return refuse(ec);
    }
    out = std::move(keys);
    ec.clear();
    return true;
}

bool read_service_keys(const std::string& path, std::optional<service_keys>& out,
                       std::error_code& ec) {
    out.reset();
    const os::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
        if (errno == ENOENT) {
            ec.clear();
            return true;
        }
        return refuse(ec);
    }
    std::string text;
    struct stat info {};
    bool readable = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) &&
                    static_cast<std::size_t>(info.st_size) <= kMaxFileSize;
    if (readable) {
        char buffer[kMaxFileSize + 1];
        ssize_t got = 0;
        while ((got = ::read(fd.get(), buffer, sizeof buffer)) > 0 && text.size() <= kMaxFileSize) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        readable = got == 0 && text.size() <= kMaxFileSize;
    }
    service_keys keys;
    if (!readable || !parse_service_keys(text, keys, ec)) {
        return refuse(ec);
    }
    out = std::move(keys);
    return true;
}

std::string format_service_keys(const service_keys& keys) {
    return "asymmetric " + to_hex(keys.asymmetric) + "\nkey-agreement " +
           to_hex(keys.key_agreement) + "\n";
}

}  // namespace client
