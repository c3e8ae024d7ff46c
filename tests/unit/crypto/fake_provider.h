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
    // create_hash / create_key_agreement throw, as for a provider without them.
    bool refuse_hash = false;
    bool refuse_key_agreement = false;
    // create_random throws while *refuse_random is true.
    std::shared_ptr<bool> refuse_random;
    // Symmetric key imports throw while *refuse_key_import is true, as they do for a key
    // sealed under another password.
    std::shared_ptr<bool> refuse_key_import;
    // Asymmetric container imports throw while *refuse_asymmetric_import is true.
    std::shared_ptr<bool> refuse_asymmetric_import;
    // Symmetric algorithms hand out plain_encrypters of this block size.
    std::optional<std::size_t> plain_block;
};

// Throws as the provider does, when fail is set.
inline void fail_if(bool fail, const char* method) {
    if (fail) {
        throw Exception("scripted failure", Exception::backend_failure, method);
    }
}
inline bool set(const std::shared_ptr<bool>& flag) {
    return flag && *flag;
}

// A real asymmetric key changed as the script says.
class scripted_asymmetric : public AsymmetcricEncrypterBase {
  public:
    scripted_asymmetric(std::shared_ptr<AsymmetcricEncrypterBase> real, script s)
        : m_real(std::move(real)), m_script(std::move(s)) {}
    bool is_ready(int mode) const override { return m_real->is_ready(mode); }
    void initialize() override { m_real->initialize(); }
    void import_container(const std::uint8_t* data, std::size_t size,
                          const std::wstring& password) override {
        fail_if(set(m_script.refuse_asymmetric_import), "import_container");
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
    script m_script;
};

// A real symmetric algorithm changed as the script says.
class scripted_symmetric : public SymmetricAlgoritmBase {
  public:
    scripted_symmetric(std::shared_ptr<SymmetricAlgoritmBase> real, script s)
        : m_real(std::move(real)), m_script(std::move(s)) {}
    bool is_key_ready() const override { return m_real->is_key_ready(); }
    void import_key(const std::wstring& password, const std::uint8_t* data,
                    std::size_t size) override {
        fail_if(set(m_script.refuse_key_import), "import_key");
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
        fail_if(m_script.throw_in_initialize, "initialize");
        CryptoFactoryDef::initialize(data, size);
    }
    std::shared_ptr<RandomBase> create_random(const std::wstring& name) override {
        fail_if(set(m_script.refuse_random), "create_random");
        return CryptoFactoryDef::create_random(name);
    }
    std::shared_ptr<HashAlgorithmBase> create_hash(const std::wstring& name) override {
        fail_if(m_script.refuse_hash, "create_hash");
        return CryptoFactoryDef::create_hash(name);
    }
    std::shared_ptr<DiffieHellmanBase> create_key_agreement(const std::wstring& name) override {
        fail_if(m_script.refuse_key_agreement, "create_key_agreement");
        return CryptoFactoryDef::create_key_agreement(name);
    }
    std::shared_ptr<AsymmetcricEncrypterBase> create_asymmetric(const std::wstring& name) override {
        return std::make_shared<scripted_asymmetric>(CryptoFactoryDef::create_asymmetric(name),
                                                     m_script);
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
