#pragma once

// Provider factories that misbehave on request, for the failure paths a real provider
// never takes. Each wraps the real provider and changes one thing.

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/ztcrypto.h"

namespace fake {

// An encrypter that copies bytes instead of enciphering them and reports a chosen block
// size, so tests can feed exact records and impossible block sizes.
class plain_encrypter : public SymmetricEncrypter {
  public:
    explicit plain_encrypter(std::size_t block) : m_block(block) {}
    std::vector<std::uint8_t> get_iv() const override { return m_iv; }
    void set_iv(const std::vector<std::uint8_t>& iv) override { m_iv = iv; }
    std::size_t iv_size(int) const override { return 16; }
    std::size_t block_size(int) const override { return m_block; }
    void encrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override {
        if (n != 0) {
            std::memcpy(out, in, n);
        }
    }
    void decrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override {
        if (n != 0) {
            std::memcpy(out, in, n);
        }
    }

  private:
    std::size_t m_block;
    std::vector<std::uint8_t> m_iv;
};

// A real symmetric algorithm whose encrypters are plain_encrypters of a chosen block size.
class plain_symmetric : public SymmetricAlgoritmBase {
  public:
    plain_symmetric(std::shared_ptr<SymmetricAlgoritmBase> real, std::size_t block)
        : m_real(std::move(real)), m_block(block) {}
    bool is_key_ready() const override { return m_real->is_key_ready(); }
    void import_key(const std::wstring& password, const std::uint8_t* data,
                    std::size_t size) override {
        m_real->import_key(password, data, size);
    }
    void import_wrapped_key(const std::uint8_t* data, std::size_t size,
                            const AsymmetcricEncrypterBase& asymmetric) override {
        m_real->import_wrapped_key(data, size, asymmetric);
    }
    std::vector<std::uint8_t> export_wrapped_key(
        const AsymmetcricEncrypterBase& asymmetric) const override {
        return m_real->export_wrapped_key(asymmetric);
    }
    void generate_key() override { m_real->generate_key(); }
    std::shared_ptr<SymmetricEncrypter> create_encrypter() const override {
        return std::make_shared<plain_encrypter>(m_block);
    }
    std::vector<std::uint8_t> export_key(const std::wstring& password) const override {
        return m_real->export_key(password);
    }
    std::size_t key_size() const override { return m_real->key_size(); }

  private:
    std::shared_ptr<SymmetricAlgoritmBase> m_real;
    std::size_t m_block;
};

// A real key agreement that, while *foreign is true, seals its symmetric key container under
// another password than the one asked for, as a container made for someone else would be.
class foreign_password_agreement : public DiffieHellmanBase {
  public:
    foreign_password_agreement(std::shared_ptr<DiffieHellmanBase> real,
                               std::shared_ptr<const bool> foreign)
        : m_real(std::move(real)), m_foreign(std::move(foreign)) {}
    bool is_initialized() const override { return m_real->is_initialized(); }
    void import_container(const std::uint8_t* data, std::size_t size,
                          const std::wstring& password) override {
        m_real->import_container(data, size, password);
    }
    std::vector<std::uint8_t> export_container(const std::wstring& password) const override {
        return m_real->export_container(password);
    }
    std::pair<std::shared_ptr<RawMemoryDefault>, bool> import_key_material(
        const RawMemoryDefault& block) override {
        return m_real->import_key_material(block);
    }
    std::vector<std::uint8_t> get_additional_private_parameter() const override {
        return m_real->get_additional_private_parameter();
    }
    void set_additional_private_parameter(const std::uint8_t* data, std::size_t size,
                                          int mode) override {
        m_real->set_additional_private_parameter(data, size, mode);
    }
    void initialize() override { m_real->initialize(); }
    std::vector<std::uint8_t> get_symmetric_key_container(
        const std::wstring& password) const override {
        return m_real->get_symmetric_key_container(*m_foreign ? L"someone else's password"
                                                              : password);
    }
    std::vector<std::uint8_t> create_container(const std::wstring& password, std::time_t created,
                                               std::uint32_t iterations) override {
        return m_real->create_container(password, created, iterations);
    }
    std::vector<std::uint8_t> create_client_key_material() override {
        return m_real->create_client_key_material();
    }
    void import_server_key_material(const RawMemoryDefault& answer) override {
        m_real->import_server_key_material(answer);
    }
    std::vector<std::uint8_t> get_public_key() const override { return m_real->get_public_key(); }
    std::time_t get_creation_time() const override { return m_real->get_creation_time(); }

  private:
    std::shared_ptr<DiffieHellmanBase> m_real;
    std::shared_ptr<const bool> m_foreign;
};

// What a scripted_factory does differently from the real provider.
struct script {
    bool throw_in_initialize = false;
    // When set, create_random throws while the flag is true.
    std::shared_ptr<bool> refuse_random;
    // When set, key agreements seal under a foreign password while the flag is true.
    std::shared_ptr<bool> foreign_password;
    // When set, symmetric algorithms hand out plain_encrypters of this block size.
    std::optional<std::size_t> plain_block;

    static script initialize_throws() {
        script s;
        s.throw_in_initialize = true;
        return s;
    }
    static script random_refused_while(std::shared_ptr<bool> flag) {
        script s;
        s.refuse_random = std::move(flag);
        return s;
    }
    static script foreign_password_while(std::shared_ptr<bool> flag) {
        script s;
        s.foreign_password = std::move(flag);
        return s;
    }
    static script plain_cipher(std::size_t block) {
        script s;
        s.plain_block = block;
        return s;
    }
};

class scripted_factory : public CryptoFactoryDef {
  public:
    explicit scripted_factory(script s) : m_script(s) {}
    void initialize(const std::uint8_t* data, std::size_t size) override {
        if (m_script.throw_in_initialize) {
            throw Exception("scripted failure", Exception::backend_failure,
                            "scripted_factory::initialize");
        }
        CryptoFactoryDef::initialize(data, size);
    }
    std::shared_ptr<RandomBase> create_random(const std::wstring& name) override {
        if (m_script.refuse_random && *m_script.refuse_random) {
            throw Exception("scripted failure", Exception::backend_failure,
                            "scripted_factory::create_random");
        }
        return CryptoFactoryDef::create_random(name);
    }
    std::shared_ptr<SymmetricAlgoritmBase> create_symmetric(const std::wstring& name) override {
        auto real = CryptoFactoryDef::create_symmetric(name);
        if (m_script.plain_block) {
            return std::make_shared<plain_symmetric>(real, *m_script.plain_block);
        }
        return real;
    }
    std::shared_ptr<DiffieHellmanBase> create_key_agreement(const std::wstring& name) override {
        auto real = CryptoFactoryDef::create_key_agreement(name);
        if (m_script.foreign_password) {
            return std::make_shared<foreign_password_agreement>(real, m_script.foreign_password);
        }
        return real;
    }

  private:
    script m_script;
};

// A crypto_factory whose provider factories follow s.
inline crypto_factory factory_with(script s) {
    return crypto_factory([s] { return std::make_shared<scripted_factory>(s); });
}

// A crypto_factory seeded with a fixed test vector; initialized unless the provider fails.
inline crypto_factory seeded(crypto_factory f) {
    const std::vector<std::uint8_t> seed(32, 0x5A);
    f.initialize(seed);
    return f;
}

}  // namespace fake
