#pragma once

// Test support: a seeded provider, service credentials made the way the provisioning tool
// makes them, and a throw-away directory.

#include <stdlib.h>
#include <sys/random.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "crypto/crypto_factory.h"
#include "database/database.h"
#include "ztcrypto/ztcrypto.h"

namespace testing_db {

using bytes = std::vector<unsigned char>;
using credentials = Database::credentials;

inline crypto_factory seeded_factory() {
    crypto_factory factory;
    bytes seed(32);
    (void)::getrandom(seed.data(), seed.size(), 0);
    factory.initialize(seed);
    return factory;
}

// A service password (64 hexadecimal digits) and a container sealed under it.
inline credentials make_service(crypto_factory& factory) {
    bytes secret(32);
    (void)::getrandom(secret.data(), secret.size(), 0);
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring password;
    for (const unsigned char b : secret) {
        password.push_back(kDigits[b >> 4]);
        password.push_back(kDigits[b & 0x0F]);
    }
    auto agreement = factory.self()->create_key_agreement(L"");
    bytes container = agreement->create_container(password, std::time(nullptr), 1000);
    return {password, container};
}

// A directory under the system's temporary directory, removed with everything in it.
class temp_dir {
public:
    temp_dir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ztdb-XXXXXX").string();
        const char* made = ::mkdtemp(pattern.data());
        m_path = made != nullptr ? made : "";
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    ~temp_dir() {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const noexcept { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

}  // namespace testing_db
