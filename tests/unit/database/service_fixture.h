#pragma once

// Test support: a seeded provider (and, from fake_provider.h, providers that fail on
// request), service credentials made the way the provisioning tool makes them, a throw-away
// directory and whole-file helpers.

#include <stdlib.h>
#include <sys/random.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../crypto/fake_provider.h"
#include "crypto/crypto_factory.h"
#include "database/database.h"
#include "database/serializer.h"
#include "ztcrypto/ztcrypto.h"

namespace testing_db {

using bytes = std::vector<unsigned char>;
using credentials = Database::credentials;

inline bytes text(const std::string& s) {
    return bytes(s.begin(), s.end());
}

inline bytes read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_all(const std::string& path, const bytes& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
}

// The frame of the given items.
inline bytes frame_of(const std::vector<bytes>& items) {
    Serializer frame;
    for (const auto& item : items) {
        frame.push_back(item);
    }
    return frame.serialize();
}

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
    std::wstring password;
    for (const unsigned char b : secret) {
        password += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 0x0F]};
    }
    auto agreement = factory.self()->create_key_agreement(L"");
    return {password, agreement->create_container(password, std::time(nullptr), 1000)};
}

// A directory under the system's temporary directory, removed with everything in it.
class temp_dir {
  public:
    temp_dir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ztdb-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    temp_dir(const temp_dir&) = delete;
    ~temp_dir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const noexcept { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

}  // namespace testing_db
