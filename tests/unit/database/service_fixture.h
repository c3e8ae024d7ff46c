#pragma once

// Test support: a seeded provider, service credentials made the way the provisioning tool
// makes them, a throw-away directory and whole-file helpers.

#include <stdlib.h>
#include <sys/random.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// An asymmetric key of the real provider whose container import fails while *refuse is set.
class refusing_asymmetric : public AsymmetcricEncrypterBase {
  public:
    refusing_asymmetric(std::shared_ptr<AsymmetcricEncrypterBase> real,
                        std::shared_ptr<bool> refuse)
        : m_real(std::move(real)), m_refuse(std::move(refuse)) {}
    bool is_ready(int mode) const override { return m_real->is_ready(mode); }
    void initialize() override { m_real->initialize(); }
    void import_container(const std::uint8_t* data, std::size_t size,
                          const std::wstring& password) override {
        if (*m_refuse) {
            throw Exception("refused", Exception::backend_failure, "refusing_asymmetric");
        }
        m_real->import_container(data, size, password);
    }
    std::vector<std::uint8_t> export_public_key(int mode) const override {
        return m_real->export_public_key(mode);
    }
    void import_public_key(const std::uint8_t* data, std::size_t size) override {
        m_real->import_public_key(data, size);
    }
    bool has_private_key() const override { return m_real->has_private_key(); }
    std::vector<std::uint8_t> encrypt(const std::uint8_t* data, std::size_t size) const override {
        return m_real->encrypt(data, size);
    }
    RawMemoryDefault decrypt(const std::uint8_t* data, std::size_t size) const override {
        return m_real->decrypt(data, size);
    }

  private:
    std::shared_ptr<AsymmetcricEncrypterBase> m_real;
    std::shared_ptr<bool> m_refuse;
};

// A provider that cannot create hashes, or (key_agreement) key agreements, or (with
// refuse_asymmetric_import) whose asymmetric keys refuse containers while that flag is set.
class broken_provider : public CryptoFactoryDef {
  public:
    enum class missing { hash, key_agreement, nothing };
    explicit broken_provider(missing what, std::shared_ptr<bool> refuse_asymmetric_import = {})
        : m_missing(what), m_refuse(std::move(refuse_asymmetric_import)) {}

    std::shared_ptr<AsymmetcricEncrypterBase> create_asymmetric(const std::wstring& name) override {
        auto real = CryptoFactoryDef::create_asymmetric(name);
        if (!m_refuse) {
            return real;
        }
        return std::make_shared<refusing_asymmetric>(std::move(real), m_refuse);
    }

    std::shared_ptr<HashAlgorithmBase> create_hash(const std::wstring& name) override {
        fail_if(missing::hash);
        return CryptoFactoryDef::create_hash(name);
    }
    std::shared_ptr<DiffieHellmanBase> create_key_agreement(const std::wstring& name) override {
        fail_if(missing::key_agreement);
        return CryptoFactoryDef::create_key_agreement(name);
    }

  private:
    void fail_if(missing what) const {
        if (m_missing == what) {
            throw Exception("not available", Exception::backend_failure, "broken_provider");
        }
    }
    missing m_missing;
    std::shared_ptr<bool> m_refuse;
};

inline crypto_factory broken_factory(broken_provider::missing what,
                                     std::shared_ptr<bool> refuse_asymmetric_import = {}) {
    crypto_factory factory([what, refuse_asymmetric_import] {
        return std::make_shared<broken_provider>(what, refuse_asymmetric_import);
    });
    factory.initialize(bytes(32, 7));
    return factory;
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
