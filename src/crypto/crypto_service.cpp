#include "crypto/crypto_service.h"

#include <string.h>

#include <stdexcept>

#include "crypto/blocks.h"
#include "crypto/crypto_error.h"
#include "crypto/guarded_call.h"
#include "foundation/defer.h"

namespace {

const std::wstring kDefault;  // the provider's default algorithm

std::error_code out_of_memory() {
    return std::make_error_code(std::errc::not_enough_memory);
}

}  // namespace

bool crypto_service::set_up(std::shared_ptr<CryptoFactoryDef> provider, std::error_code& ec) {
    m_encryptor.reset();
    try {
        auto key_agreement = provider->create_key_agreement(kDefault);
        auto asymmetric = provider->create_asymmetric(kDefault);
        asymmetric->initialize();
        key_agreement->initialize();
        m_factory = std::move(provider);
        m_key_agreement = std::move(key_agreement);
        m_asymmetric = std::move(asymmetric);
    } catch (...) {
        m_factory.reset();
        m_key_agreement.reset();
        m_asymmetric.reset();
        ec = out_of_memory();
        return false;
    }
    ec.clear();
    return true;
}

bool crypto_service::initialize(const crypto_factory& f, std::error_code& ec) {
    if (!f.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    return set_up(f.self(), ec);
}

bool crypto_service::initialize(const std::vector<std::uint8_t>& seed, std::error_code& ec) {
    return initialize(seed.data(), seed.size(), ec);
}

bool crypto_service::initialize(const std::uint8_t* data, std::size_t size, std::error_code& ec) {
    std::shared_ptr<CryptoFactoryDef> provider;
    try {
        provider = std::make_shared<CryptoFactoryDef>();
        provider->initialize(data, size);
    } catch (...) {
        m_encryptor.reset();
        m_factory.reset();
        m_key_agreement.reset();
        m_asymmetric.reset();
        ec = out_of_memory();
        return false;
    }
    return set_up(std::move(provider), ec);
}

bool crypto_service::initialized() const noexcept {
    try {
        return m_key_agreement && m_key_agreement->is_initialized();
    } catch (...) {
        return false;
    }
}

bool crypto_service::import_container(const std::wstring& password,
                                      const std::vector<std::uint8_t>& container,
                                      std::error_code& ec) {
    if (!m_factory || !m_key_agreement || !m_asymmetric) {
        ec = crypto_error::not_initialized;
        return false;
    }
    // Both keys are opened in fresh objects first, so that a container the asymmetric
    // object refuses does not leave the key agreement holding it.
    return crypto::guarded_call(ec, crypto_error::invalid_password, [&] {
        auto key_agreement = m_factory->create_key_agreement(kDefault);
        key_agreement->import_container(container.data(), container.size(), password);
        auto asymmetric = m_factory->create_asymmetric(kDefault);
        asymmetric->import_container(container.data(), container.size(), password);
        m_key_agreement = std::move(key_agreement);
        m_asymmetric = std::move(asymmetric);
    });
}

std::vector<std::uint8_t> crypto_service::export_container(const std::wstring& password,
                                                           std::error_code& ec) const {
    if (!m_key_agreement) {
        ec = crypto_error::not_initialized;
        return {};
    }
    return crypto::guarded_call(ec, crypto_error::export_container_error,
                                [&] { return m_key_agreement->export_container(password); });
}

bool crypto_service::import_key_material(const std::vector<std::uint8_t>& material,
                                         std::error_code& ec) {
    return import_key_material(material.data(), material.size(), ec);
}

bool crypto_service::import_key_material(const std::uint8_t* data, std::size_t size,
                                         std::error_code& ec) {
    if (!m_key_agreement) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::import_key_material_error, [&] {
        m_key_material = m_key_agreement->import_key_material(RawMemoryDefault::view(data, size));
    });
}

std::vector<std::uint8_t> crypto_service::export_key_material() const {
    if (!m_key_material.first) {
        return {};
    }
    return m_key_material.first->to_vector();
}

bool crypto_service::create_encryptor(const std::wstring& password, std::error_code& ec) {
    if (!initialized()) {
        ec = crypto_error::not_initialized;
        return false;
    }
    // The session key sealed under the service password, which this process holds: as good
    // as the key itself, so it is wiped on every way out.
    std::vector<std::uint8_t> key_container;
    const auto forget = foundation::make_deferred([&key_container] {
        if (!key_container.empty()) {
            explicit_bzero(key_container.data(), key_container.size());
        }
    });
    try {
        key_container = m_key_agreement->get_symmetric_key_container(password);
    } catch (...) {
        ec = crypto_error::export_key_material_error;
        return false;
    }
    std::shared_ptr<SymmetricAlgoritmBase> algorithm;
    try {
        algorithm = m_factory->create_symmetric(kDefault);
    } catch (...) {
        ec = crypto_error::create_symmetric_error;
        return false;
    }
    try {
        algorithm->import_key(password, key_container.data(), key_container.size());
    } catch (...) {
        ec = crypto_error::invalid_password;
        return false;
    }
    std::shared_ptr<SymmetricEncrypter> encryptor;
    try {
        encryptor = algorithm->create_encrypter();
        // Packets of one block (16 bytes) must stay one block, so the block size has to
        // divide 16; a block size of 0 would make every size computation meaningless.
        const std::size_t block = encryptor->block_size(0);
        if (block == 0 || 16 % block != 0) {
            ec = crypto_error::create_encryptor_error;
            return false;
        }
    } catch (...) {
        ec = crypto_error::create_encryptor_error;
        return false;
    }
    m_encryptor = std::move(encryptor);
    ec.clear();
    return true;
}

bool crypto_service::set_iv(const std::vector<std::uint8_t>& iv, std::error_code& ec) {
    if (!m_encryptor) {
        ec = crypto_error::encryptor_not_created;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::set_iv_error, [&] { m_encryptor->set_iv(iv); });
}

void crypto_service::set_iv(const std::vector<std::uint8_t>& iv) {
    if (!m_encryptor) {
        throw std::runtime_error("Encryptor not created");
    }
    std::error_code ec;
    if (!set_iv(iv, ec)) {
        throw std::runtime_error(ec.message());
    }
}

void crypto_service::set_iv(const std::uint8_t* iv, std::size_t size) {
    if (!m_encryptor) {
        throw std::runtime_error("Cryptographer not created");
    }
    try {
        m_encryptor->set_Iv(iv, size);
    } catch (const std::exception& e) {
        // The provider's exception does not leave this class; its text (which names the
        // argument) travels on.
        throw std::runtime_error(e.what());
    } catch (...) {
        throw std::runtime_error(make_error_code(crypto_error::set_iv_error).message());
    }
}

std::vector<std::uint8_t> crypto_service::get_iv() const {
    if (!m_encryptor) {
        return {};
    }
    return crypto::value_or_empty([&] { return m_encryptor->get_iv(); });
}

std::size_t crypto_service::get_iv_size() const {
    if (!m_encryptor) {
        return 0;
    }
    return crypto::value_or_empty([&] { return m_encryptor->iv_size(0); });
}

std::size_t crypto_service::get_size_for_encrypted_data(std::size_t n, std::error_code& ec) const {
    if (!m_encryptor) {
        ec = crypto_error::encryptor_not_created;
        return 0;
    }
    std::size_t block = 0;
    try {
        block = m_encryptor->block_size(0);
    } catch (...) {
        ec = crypto_error::internal_error;
        return 0;
    }
    std::size_t size = 0;
    if (!crypto::round_up_to_blocks(n, block, size)) {
        ec = crypto_error::internal_error;
        return 0;
    }
    ec.clear();
    return size;
}

std::size_t crypto_service::get_padding(std::size_t n, std::error_code& ec) const {
    const std::size_t size = get_size_for_encrypted_data(n, ec);
    return size == 0 ? 0 : size - n;
}

std::vector<std::uint8_t> crypto_service::encrypt(const std::vector<std::uint8_t>& plain,
                                                  std::error_code& ec) const {
    const std::size_t size = get_size_for_encrypted_data(plain.size(), ec);
    if (size == 0) {
        return {};  // no encryptor (ec set) or nothing to encrypt (ec clear)
    }
    std::vector<std::uint8_t> out(size, 0);
    try {
        m_encryptor->encrypt(plain.data(), plain.size(), out.data());
    } catch (...) {
        ec = crypto_error::encrypt_failure;
        return {};
    }
    return out;
}

std::vector<std::uint8_t> crypto_service::decrypt(const std::vector<std::uint8_t>& cipher,
                                                  std::error_code& ec) const {
    if (!m_encryptor) {
        ec = crypto_error::encryptor_not_created;
        return {};
    }
    ec.clear();
    if (cipher.empty()) {
        return {};
    }
    std::vector<std::uint8_t> out(cipher.size(), 0);
    try {
        m_encryptor->decrypt(cipher.data(), cipher.size(), out.data());
    } catch (...) {
        if (!out.empty()) {
            explicit_bzero(out.data(), out.size());
        }
        ec = crypto_error::decrypt_failure;
        return {};
    }
    return out;
}

bool crypto_service::set_additional_private_parameter(const std::vector<std::uint8_t>& parameter,
                                                      std::error_code& ec) {
    if (!m_key_agreement) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::set_private_parameter_error, [&] {
        m_key_agreement->set_additional_private_parameter(parameter.data(), parameter.size(), 0);
    });
}

std::vector<std::uint8_t> crypto_service::get_additional_private_parameter() const {
    if (!m_key_agreement) {
        return {};
    }
    return crypto::value_or_empty(
        [&] { return m_key_agreement->get_additional_private_parameter(); });
}

std::vector<std::uint8_t> crypto_service::get_symmetric_key_container(
    const std::wstring& password) const {
    if (!m_key_agreement) {
        return {};
    }
    return crypto::value_or_empty(
        [&] { return m_key_agreement->get_symmetric_key_container(password); });
}

std::vector<std::uint8_t> crypto_service::get_public_key(std::error_code& ec) const {
    try {
        if (!m_asymmetric || !m_asymmetric->is_ready(0)) {
            ec = crypto_error::not_initialized;
            return {};
        }
        auto key = m_asymmetric->export_public_key(0);
        ec.clear();
        return key;
    } catch (...) {
        ec = crypto_error::export_public_key_error;
        return {};
    }
}

bool crypto_service::random(std::uint8_t* buffer, std::size_t n, std::error_code& ec) const {
    std::shared_ptr<RandomBase> generator;
    try {
        if (m_factory) {
            generator = m_factory->create_random(kDefault);
        }
    } catch (...) {
    }
    if (!generator) {
        ec = crypto_error::create_random_error;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::generate_random_error,
                                [&] { generator->generate(buffer, n); });
}

std::vector<std::uint8_t> crypto_service::random(std::size_t n, std::error_code& ec) const {
    std::vector<std::uint8_t> out(n, 0);
    if (!random(out.data(), n, ec)) {
        return {};
    }
    return out;
}

std::vector<std::uint8_t> crypto_service::hash(const std::vector<std::uint8_t>& data,
                                               std::error_code& ec) const {
    return hash(data.data(), data.size(), ec);
}

std::vector<std::uint8_t> crypto_service::hash(const std::uint8_t* data, std::size_t size,
                                               std::error_code& ec) const {
    if (!m_factory) {
        ec = crypto_error::hash_initialize_error;
        return {};
    }
    try {
        auto hasher = m_factory->create_hash(kDefault);
        hasher->initialize();
        if (!hasher->is_initialized()) {
            ec = crypto_error::hash_initialize_error;
            return {};
        }
        std::vector<std::uint8_t> digest(hasher->size(), 0);
        hasher->digest(data, size, digest.data());
        ec.clear();
        return digest;
    } catch (...) {
        ec = out_of_memory();
        return {};
    }
}

bool crypto_service::reset(std::error_code& ec) {
    m_encryptor.reset();
    return crypto::guarded_call(ec, crypto_error::initialize_error, [&] {
        if (m_key_agreement) {
            m_key_agreement->initialize();
        }
        if (m_asymmetric) {
            m_asymmetric->initialize();
        }
    });
}

void crypto_service::reset() {
    std::error_code ignored;
    reset(ignored);
}

void crypto_service::force_reset() noexcept {
    m_encryptor.reset();
    if (!m_factory) {
        return;
    }
    try {
        auto key_agreement = m_factory->create_key_agreement(kDefault);
        key_agreement->initialize();
        m_key_agreement = std::move(key_agreement);
    } catch (...) {
        // A session being torn down has no one to report to.
    }
}
