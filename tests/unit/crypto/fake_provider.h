#pragma once

// Provider factories that misbehave on request, for the failure paths a real provider
// never takes. Each wraps the real provider and changes one thing.

#include <algorithm>
#include <memory>
#include <optional>
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
        std::copy(in, in + n, out);
    }
    void decrypt(const std::uint8_t* in, std::size_t n, std::uint8_t* out) override {
        std::copy(in, in + n, out);
    }

  private:
    std::size_t m_block;
    std::vector<std::uint8_t> m_iv;
};

// What a scripted_factory does differently from the real provider.
struct script {
    bool throw_in_initialize = false;
    // create_random throws while *refuse_random is true.
    std::shared_ptr<bool> refuse_random;
    // Symmetric key imports throw while *refuse_key_import is true, as they do for a key
    // sealed under another password.
    std::shared_ptr<bool> refuse_key_import;
    // Symmetric algorithms hand out plain_encrypters of this block size.
    std::optional<std::size_t> plain_block;
};

// A real symmetric algorithm changed as the script says.
class scripted_symmetric : public SymmetricAlgoritmBase {
  public:
    scripted_symmetric(std::shared_ptr<SymmetricAlgoritmBase> real, script s)
        : m_real(std::move(real)), m_script(std::move(s)) {}
    bool is_key_ready() const override { return m_real->is_key_ready(); }
    void import_key(const std::wstring& password, const std::uint8_t* data,
                    std::size_t size) override {
        if (m_script.refuse_key_import && *m_script.refuse_key_import) {
            throw Exception("scripted failure", Exception::backend_failure, "import_key");
        }
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
        if (m_script.plain_block) {
            return std::make_shared<plain_encrypter>(*m_script.plain_block);
        }
        return m_real->create_encrypter();
    }
    std::vector<std::uint8_t> export_key(const std::wstring& password) const override {
        return m_real->export_key(password);
    }
    std::size_t key_size() const override { return m_real->key_size(); }
    std::vector<std::uint8_t> authentication_tag(const std::uint8_t* data,
                                                 std::size_t n) const override {
        return m_real->authentication_tag(data, n);
    }

  private:
    std::shared_ptr<SymmetricAlgoritmBase> m_real;
    script m_script;
};

class scripted_factory : public CryptoFactoryDef {
  public:
    explicit scripted_factory(script s) : m_script(std::move(s)) {}
    void initialize(const std::uint8_t* data, std::size_t size) override {
        if (m_script.throw_in_initialize) {
            throw Exception("scripted failure", Exception::backend_failure, "initialize");
        }
        CryptoFactoryDef::initialize(data, size);
    }
    std::shared_ptr<RandomBase> create_random(const std::wstring& name) override {
        if (m_script.refuse_random && *m_script.refuse_random) {
            throw Exception("scripted failure", Exception::backend_failure, "create_random");
        }
        return CryptoFactoryDef::create_random(name);
    }
    std::shared_ptr<SymmetricAlgoritmBase> create_symmetric(const std::wstring& name) override {
        return std::make_shared<scripted_symmetric>(CryptoFactoryDef::create_symmetric(name),
                                                    m_script);
    }

  private:
    script m_script;
};

// A crypto_factory whose provider factories follow the script that edit makes.
template <class Edit>
crypto_factory factory_with(Edit edit) {
    script s;
    edit(s);
    return crypto_factory([s] { return std::make_shared<scripted_factory>(s); });
}

// A crypto_factory seeded with a fixed test vector; initialized unless the provider fails.
inline crypto_factory seeded(crypto_factory f = crypto_factory()) {
    f.initialize(std::vector<std::uint8_t>(32, 0x5A));
    return f;
}

}  // namespace fake
