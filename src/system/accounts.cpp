#include "system/accounts.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace os {

namespace {

constexpr std::size_t kInitialBuffer = 1024;
// Entries larger than this are not plausible; the limit stops a runaway loop.
constexpr std::size_t kMaxBuffer = 1 << 20;

// Runs a getpw*_r look-up, growing the buffer while the entry does not fit, so that a
// long entry is not mistaken for a missing one. Returns 0 or the look-up's error number;
// found is null when there is no such entry.
template <typename Lookup>
int lookup_entry(Lookup&& lookup, passwd& entry, std::vector<char>& buffer, passwd*& found) {
    buffer.resize(kInitialBuffer);
    for (;;) {
        found = nullptr;
        const int err = lookup(&entry, buffer.data(), buffer.size(), &found);
        if (err != ERANGE || buffer.size() >= kMaxBuffer) {
            return err;
        }
        buffer.resize(buffer.size() * 2);
    }
}

int lookup_name(const std::string& user_name, passwd& entry, std::vector<char>& buffer,
                passwd*& found) {
    // The C look-up would stop at an embedded NUL and find another account: "alice\0x"
    // is no account name, not alice.
    if (user_name.find('\0') != std::string::npos) {
        found = nullptr;
        return 0;
    }
    return lookup_entry(
        [&](passwd* pwd, char* buf, std::size_t size, passwd** result) {
            return ::getpwnam_r(user_name.c_str(), pwd, buf, size, result);
        },
        entry, buffer, found);
}

}  // namespace

std::pair<unsigned int, unsigned int> get_user_id(const std::string& user_name) {
    uid_t uid = 0;
    gid_t gid = 0;
    std::error_code ec;
    if (!find_user_id(user_name, uid, gid, ec)) {
        return {0, 0};
    }
    return {uid, gid};
}

bool find_user_id(const std::string& user_name, uid_t& uid, gid_t& gid, std::error_code& ec) {
    passwd entry{};
    std::vector<char> buffer;
    passwd* found = nullptr;
    const int err = lookup_name(user_name, entry, buffer, found);
    if (err != 0 || found == nullptr) {
        ec.assign(err != 0 ? err : ENOENT, std::generic_category());
        return false;
    }
    ec.clear();
    uid = found->pw_uid;
    gid = found->pw_gid;
    return true;
}

bool is_user_exist(const std::string& user_name, std::error_code& ec) {
    ec.clear();
    passwd entry{};
    std::vector<char> buffer;
    passwd* found = nullptr;
    const int err = lookup_name(user_name, entry, buffer, found);
    if (err != 0) {
        ec.assign(err, std::generic_category());
        return false;
    }
    return found != nullptr;
}

std::string get_user_name(uid_t uid) {
    passwd entry{};
    std::vector<char> buffer;
    passwd* found = nullptr;
    const int err =
        lookup_entry([&](passwd* pwd, char* buf, std::size_t size,
                         passwd** result) { return ::getpwuid_r(uid, pwd, buf, size, result); },
                     entry, buffer, found);
    if (err != 0 || found == nullptr || found->pw_name == nullptr) {
        return {};
    }
    return found->pw_name;
}

std::string getuser() {
    return get_user_name(::getuid());
}

}  // namespace os
