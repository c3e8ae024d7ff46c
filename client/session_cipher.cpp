#include "client/session_cipher.h"

#include <string.h>

#include "crypto/blocks.h"
#include "crypto/crypto_error.h"
#include "crypto/guarded_call.h"
#include "foundation/defer.h"

namespace client {

namespace {

// The password that seals the session key between the two provider objects of this
// process; it never leaves it, so a fixed random one per cipher would add nothing.
const std::wstring kTransportPassword = L"client session";

// The fixed password above opens the sealed session key for anyone who reads it, and a
// decrypted block is plaintext: both are wiped before their memory goes back.
void wipe(std::vector<std::uint8_t>& data) noexcept {
    if (!data.empty()) {
        ::explicit_bzero(data.data(), data.size());
    }
}

}  // namespace

session_cipher::session_cipher(std::shared_ptr<CryptoFactoryDef> factory)
    : m_factory(std::move(factory)) {}

session_cipher::bytes session_cipher::key_material(std::error_code& ec) {
    return crypto::guarded_call(ec, crypto_error::initialize_error, [&] {
        auto agreement = m_factory->create_key_agreement(L"");
        const std::vector<std::uint8_t> material = agreement->create_client_key_material();
        m_agreement = std::move(agreement);
        m_encrypter.reset();
        return bytes(material.begin(), material.end());
    });
}

bool session_cipher::import_answer(const bytes& answer, std::error_code& ec) {
    if (!m_agreement) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::import_key_material_error, [&] {
        m_agreement->import_server_key_material(
            RawMemoryDefault::view(answer.data(), answer.size()));
    });
}

bool session_cipher::set_token(const RawMemoryDefault& token, std::error_code& ec) {
    if (!m_agreement) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::set_private_parameter_error, [&] {
        m_agreement->set_additional_private_parameter(token.data(), token.size(), 0);
    });
}

bool session_cipher::create_encryptor(const bytes& iv, std::error_code& ec) {
    if (!m_agreement) {
        ec = crypto_error::not_initialized;
        return false;
    }
    auto sealed = crypto::guarded_call(ec, crypto_error::export_key_material_error, [&] {
        return m_agreement->get_symmetric_key_container(kTransportPassword);
    });
    const auto forget_key = foundation::make_deferred([&sealed] { wipe(sealed); });
    if (ec) {
        return false;
    }
    auto encrypter = crypto::guarded_call(ec, crypto_error::create_encryptor_error, [&] {
        auto algorithm = m_factory->create_symmetric(L"");
        algorithm->import_key(kTransportPassword, sealed.data(), sealed.size());
        return algorithm->create_encrypter();
    });
    if (ec) {
        return false;
    }
    if (!crypto::guarded_call(ec, crypto_error::set_iv_error, [&] {
            std::vector<std::uint8_t> copy(iv.begin(), iv.end());
            const auto forget_iv = foundation::make_deferred([&copy] { wipe(copy); });
            encrypter->set_iv(copy);
        })) {
        return false;
    }
    m_encrypter = std::move(encrypter);
    return true;
}

session_cipher::bytes session_cipher::random(std::size_t n, std::error_code& ec) const {
    return crypto::guarded_call(ec, crypto_error::generate_random_error, [&] {
        bytes out(n);
        m_factory->create_random(L"")->generate(out.data(), out.size());
        return out;
    });
}

session_cipher::bytes session_cipher::encrypt(const bytes& plain, std::error_code& ec) const {
    if (!m_encrypter) {
        ec = crypto_error::encryptor_not_created;
        return {};
    }
    return crypto::guarded_call(ec, crypto_error::encrypt_failure, [&] {
        std::size_t size = 0;
        if (!crypto::round_up_to_blocks(plain.size(), m_encrypter->block_size(0), size)) {
            throw std::length_error("no whole number of blocks");
        }
        bytes out(size);
        if (size != 0) {
            m_encrypter->encrypt(plain.data(), plain.size(), out.data());
        }
        return out;
    });
}

session_cipher::bytes session_cipher::decrypt(const bytes& cipher, std::error_code& ec) const {
    if (!m_encrypter) {
        ec = crypto_error::encryptor_not_created;
        return {};
    }
    return crypto::guarded_call(ec, crypto_error::decrypt_failure, [&] {
        bytes out(cipher.size());
        try {
            if (!cipher.empty()) {
                m_encrypter->decrypt(cipher.data(), cipher.size(), out.data());
            }
        } catch (...) {
            wipe(out);
            throw;
        }
        return out;
    });
}

}  // namespace client
