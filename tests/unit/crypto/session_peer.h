#pragma once

// The client half of a session handshake, built directly on the provider, so that tests of
// the server's session cipher can check what a real peer receives.

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/ztcrypto.h"

namespace peer {

// 2024-01-31 23:59:59 UTC, also the creation time of the reference container.
constexpr std::time_t kCreated = 1706745599;
inline const std::wstring kServicePassword = L"5e7a0c1d9f2b4a6e8c0d1f3a5b7c9e0f";

// A new key container under password with the cheapest iteration count.
inline std::vector<std::uint8_t> make_container(crypto_factory& f, const std::wstring& password,
                                                std::time_t created = kCreated) {
    return f.self()->create_key_agreement(L"")->create_container(password, created, 1000);
}

// A client: makes its key material, completes the agreement with the server's answer and
// keys an encrypter like the server's.
class client {
  public:
    explicit client(crypto_factory& f)
        : m_factory(f.self()), m_agreement(m_factory->create_key_agreement(L"")) {}

    std::vector<std::uint8_t> key_material() { return m_agreement->create_client_key_material(); }

    void set_private_parameter(const std::vector<std::uint8_t>& parameter) {
        m_agreement->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    }

    // Completes the agreement and keys the encrypter under iv.
    void finish(const std::vector<std::uint8_t>& answer, const std::wstring& password,
                const std::vector<std::uint8_t>& iv) {
        m_agreement->import_server_key_material(
            RawMemoryDefault::view(answer.data(), answer.size()));
        const auto sealed = m_agreement->get_symmetric_key_container(password);
        auto algorithm = m_factory->create_symmetric(L"");
        algorithm->import_key(password, sealed.data(), sealed.size());
        m_encrypter = algorithm->create_encrypter();
        m_encrypter->set_iv(iv);
    }

    std::vector<std::uint8_t> encrypt(const std::vector<std::uint8_t>& plain) {
        std::vector<std::uint8_t> out((plain.size() + 15) / 16 * 16);
        m_encrypter->encrypt(plain.data(), plain.size(), out.data());
        return out;
    }

    std::vector<std::uint8_t> decrypt(const std::vector<std::uint8_t>& cipher) {
        std::vector<std::uint8_t> out(cipher.size());
        m_encrypter->decrypt(cipher.data(), cipher.size(), out.data());
        return out;
    }

  private:
    std::shared_ptr<CryptoFactoryDef> m_factory;
    std::shared_ptr<DiffieHellmanBase> m_agreement;
    std::shared_ptr<SymmetricEncrypter> m_encrypter;
};

}  // namespace peer
