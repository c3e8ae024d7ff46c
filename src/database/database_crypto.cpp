#include "database/database_crypto.h"

#include <exception>

#include "crypto/crypto_error.h"
#include "crypto/randomizer.h"
#include "foundation/defer.h"
#include "system/wipe.h"
#include "ztcrypto/ztcrypto.h"

namespace {
// The provider's default algorithm of each kind.
const std::wstring kDefault;

// Runs one operation on the file cipher: encryptor_not_created without a cipher, failure
// when the provider throws.
template <typename Operation>
bool with_cipher(const std::shared_ptr<SymmetricEncrypter>& cipher, crypto_error failure,
                 std::error_code& ec, Operation&& operation) {
    if (!cipher) {
        ec = crypto_error::encryptor_not_created;
        return false;
    }
    try {
        operation(*cipher);
    } catch (const std::exception&) {
        ec = failure;
        return false;
    }
    return true;
}
}  // namespace

bool DatabaseCryptoManager::initialize(const crypto_factory& factory, std::error_code& ec) {
    if (!factory.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    try {
        m_factory = factory;
        m_container = m_factory.self()->create_key_agreement(kDefault);
        m_asymmetric = m_factory.self()->create_asymmetric(kDefault);
        m_container->initialize();
    } catch (const std::exception&) {
        m_container.reset();
        m_asymmetric.reset();
        ec = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
    return true;
}

bool DatabaseCryptoManager::import_container(const std::wstring& password, const bytes& container,
                                             std::error_code& ec) {
    if (!m_container || !m_asymmetric) {
        ec = crypto_error::not_initialized;
        return false;
    }
    // Both keys come from fresh objects and replace the held ones only together, so a
    // failure half-way leaves the previous container whole.
    std::shared_ptr<DiffieHellmanBase> agreement;
    std::shared_ptr<AsymmetcricEncrypterBase> asymmetric;
    try {
        agreement = m_factory.self()->create_key_agreement(kDefault);
        asymmetric = m_factory.self()->create_asymmetric(kDefault);
    } catch (const std::exception&) {
        ec = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
    try {
        agreement->import_container(container.data(), container.size(), password);
        asymmetric->import_container(container.data(), container.size(), password);
    } catch (const std::exception&) {
        ec = crypto_error::invalid_password;
        return false;
    }
    m_container = std::move(agreement);
    m_asymmetric = std::move(asymmetric);
    return true;
}

bool DatabaseCryptoManager::create_encryptor(const std::wstring& password, std::error_code& ec) {
    if (!initialized()) {
        ec = crypto_error::not_initialized;
        return false;
    }
    // The storage key sealed under the service password, which this process holds: as good
    // as the key itself, so it is wiped on every way out.
    std::vector<std::uint8_t> key;
    const auto forget = foundation::make_deferred([&key] { util::wipe(key); });
    try {
        key = m_container->get_storage_key_container(password);
    } catch (const std::exception&) {
        ec = crypto_error::export_key_material_error;
        return false;
    }
    std::shared_ptr<SymmetricAlgoritmBase> algorithm;
    try {
        algorithm = m_factory.self()->create_symmetric(kDefault);
    } catch (const std::exception&) {
        ec = crypto_error::create_symmetric_error;
        return false;
    }
    try {
        algorithm->import_key(password, key.data(), key.size());
    } catch (const std::exception&) {
        ec = crypto_error::invalid_password;
        return false;
    }
    try {
        auto encrypter = algorithm->create_encrypter();
        // A cipher without a block size could not pad anything; refuse it here.
        if (!encrypter || encrypter->block_size(0) == 0) {
            ec = crypto_error::create_encryptor_error;
            return false;
        }
        m_encrypters.push(std::move(encrypter));
    } catch (const std::exception&) {
        ec = crypto_error::create_encryptor_error;
        return false;
    }
    return true;
}

std::shared_ptr<SymmetricEncrypter> DatabaseCryptoManager::top() const {
    return m_encrypters.empty() ? nullptr : m_encrypters.top();
}

std::size_t DatabaseCryptoManager::get_encrypted_data_size(std::size_t n,
                                                           std::size_t block) noexcept {
    const std::size_t rest = n % block;
    return rest == 0 ? n : n + (block - rest);
}

std::size_t DatabaseCryptoManager::get_size_for_encrypted_data(std::size_t n,
                                                               std::error_code& ec) const {
    const auto cipher = top();
    if (!cipher) {
        ec = crypto_error::encryptor_not_created;
        return 0;
    }
    return get_encrypted_data_size(n, cipher->block_size(0));
}

std::size_t DatabaseCryptoManager::get_padding(std::size_t n, std::error_code& ec) const {
    const std::size_t size = get_size_for_encrypted_data(n, ec);
    return size == 0 ? 0 : size - n;
}

DatabaseCryptoManager::bytes DatabaseCryptoManager::encrypt(const bytes& data,
                                                            std::error_code& ec) {
    const std::size_t size = get_size_for_encrypted_data(data.size(), ec);
    if (size == 0) {
        return {};
    }
    bytes out(size);
    if (!encrypt(data.data(), data.size(), out.data(), ec)) {
        return {};
    }
    return out;
}

bool DatabaseCryptoManager::encrypt(const unsigned char* in, std::size_t n, unsigned char* out,
                                    std::error_code& ec) {
    return with_cipher(top(), crypto_error::encrypt_failure, ec,
                       [&](SymmetricEncrypter& cipher) { cipher.encrypt(in, n, out); });
}

DatabaseCryptoManager::bytes DatabaseCryptoManager::decrypt(const bytes& data,
                                                            std::error_code& ec) {
    bytes out(data.size());
    if (!decrypt(data.data(), data.size(), out.data(), ec)) {
        return {};
    }
    return out;
}

bool DatabaseCryptoManager::decrypt(const unsigned char* in, std::size_t n, unsigned char* out,
                                    std::error_code& ec) {
    return with_cipher(top(), crypto_error::decrypt_failure, ec,
                       [&](SymmetricEncrypter& cipher) { cipher.decrypt(in, n, out); });
}

bool DatabaseCryptoManager::set_iv(const bytes& iv, std::error_code& ec) {
    return with_cipher(top(), crypto_error::set_iv_error, ec,
                       [&](SymmetricEncrypter& cipher) { cipher.set_iv(iv); });
}

DatabaseCryptoManager::bytes DatabaseCryptoManager::get_iv() const {
    const auto cipher = top();
    return cipher ? cipher->get_iv() : bytes{};
}

std::size_t DatabaseCryptoManager::get_iv_size() const {
    const auto cipher = top();
    return cipher ? cipher->iv_size(0) : 0;
}

DatabaseCryptoManager::bytes DatabaseCryptoManager::get_public_key(std::error_code& ec) const {
    try {
        if (!m_asymmetric || !m_asymmetric->is_ready(0)) {
            ec = crypto_error::not_initialized;
            return {};
        }
        return m_asymmetric->export_public_key(0);
    } catch (const std::exception&) {
        ec = crypto_error::export_public_key_error;
        return {};
    }
}

asymmetric_encryptor DatabaseCryptoManager::get_cipher() const {
    return asymmetric_encryptor(m_asymmetric);
}

bool DatabaseCryptoManager::initialized() const {
    try {
        return m_container && m_container->is_initialized();
    } catch (const std::exception&) {
        return false;
    }
}

void DatabaseCryptoManager::reset() {
    std::error_code ignored;
    reset(ignored);
}

bool DatabaseCryptoManager::reset(std::error_code& ec) {
    m_encrypters = {};
    if (!m_container) {
        return true;
    }
    try {
        m_container->initialize();
    } catch (const std::exception&) {
        ec = crypto_error::initialize_error;
        return false;
    }
    return true;
}

std::vector<unsigned char> generate_iv(crypto_factory& factory, std::size_t size,
                                       std::error_code& ec) {
    Randomizer randomizer;
    if (!randomizer.initialize(factory, ec)) {
        return {};
    }
    std::vector<unsigned char> iv(size);
    if (!randomizer.random(iv.data(), iv.size(), ec)) {
        return {};
    }
    return iv;
}
