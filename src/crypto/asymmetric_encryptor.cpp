#include "crypto/asymmetric_encryptor.h"

#include <string.h>

#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "crypto/blocks.h"
#include "crypto/crypto_error.h"
#include "crypto/guarded_call.h"
#include "foundation/defer.h"

namespace {

constexpr std::size_t kPrefix = 4;
constexpr std::size_t kTagSize = 32;

std::optional<std::vector<std::uint8_t>> unwrap_record(const std::uint8_t* record,
                                                       std::size_t size) {
    if (size < kPrefix) {
        return std::nullopt;
    }
    const std::uint32_t length =
        static_cast<std::uint32_t>(record[0]) | static_cast<std::uint32_t>(record[1]) << 8 |
        static_cast<std::uint32_t>(record[2]) << 16 | static_cast<std::uint32_t>(record[3]) << 24;
    if (length > size - kPrefix) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(record + kPrefix, record + kPrefix + length);
}

// Creates an encrypter from algorithm under iv, refusing one without a usable block size.
std::shared_ptr<SymmetricEncrypter> make_encrypter(SymmetricAlgoritmBase& algorithm,
                                                   const std::vector<std::uint8_t>& iv) {
    auto encrypter = algorithm.create_encrypter();
    if (!encrypter || encrypter->block_size(0) == 0) {
        return nullptr;
    }
    encrypter->set_iv(iv);
    return encrypter;
}

}  // namespace

asymmetric_encryptor::asymmetric_encryptor(std::shared_ptr<AsymmetcricEncrypterBase> asymmetric)
    : m_asymmetric(std::move(asymmetric)) {}

bool asymmetric_encryptor::initialize(const crypto_factory& f, std::error_code& ec) {
    if (!f.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    try {
        auto provider = f.self();
        auto asymmetric = m_asymmetric;
        if (!asymmetric) {
            asymmetric = provider->create_asymmetric(std::wstring());
            asymmetric->initialize();
        }
        auto algorithm = provider->create_symmetric(std::wstring());
        algorithm->generate_key();
        m_asymmetric = std::move(asymmetric);
        m_algorithm = std::move(algorithm);
        // An encrypter keyed with the previous data key no longer matches.
        m_encrypter.reset();
    } catch (...) {
        ec = crypto_error::initialize_error;
        return false;
    }
    ec.clear();
    return true;
}

bool asymmetric_encryptor::is_initialized() const noexcept {
    try {
        return m_asymmetric && m_algorithm && m_asymmetric->is_ready(0) &&
               m_algorithm->is_key_ready();
    } catch (...) {
        return false;
    }
}

std::vector<std::uint8_t> asymmetric_encryptor::get_public_key(std::error_code& ec) const {
    if (!is_initialized()) {
        ec = crypto_error::not_initialized;
        return {};
    }
    return crypto::guarded_call(ec, crypto_error::export_public_key_error,
                                [&] { return m_asymmetric->export_public_key(0); });
}

bool asymmetric_encryptor::import_public_key(const std::vector<std::uint8_t>& key,
                                             std::error_code& ec) {
    if (!is_initialized()) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return crypto::guarded_call(ec, crypto_error::import_public_key_error,
                                [&] { m_asymmetric->import_public_key(key.data(), key.size()); });
}

std::vector<std::uint8_t> asymmetric_encryptor::prepare_encrypt(const std::vector<std::uint8_t>& iv,
                                                                std::error_code& ec) {
    if (!is_initialized()) {
        ec = crypto_error::not_initialized;
        return {};
    }
    try {
        auto encrypter = make_encrypter(*m_algorithm, iv);
        if (!encrypter) {
            ec = crypto_error::encryptor_not_created;
            return {};
        }
        auto wrapped = m_algorithm->export_wrapped_key(*m_asymmetric);
        m_encrypter = std::move(encrypter);
        ec.clear();
        return wrapped;
    } catch (...) {
        ec = crypto_error::encryptor_not_created;
        return {};
    }
}

bool asymmetric_encryptor::prepare_decrypt(const std::vector<std::uint8_t>& iv,
                                           const std::vector<std::uint8_t>& wrapped_key,
                                           std::error_code& ec) {
    if (!is_initialized()) {
        ec = crypto_error::not_initialized;
        return false;
    }
    try {
        m_algorithm->import_wrapped_key(wrapped_key.data(), wrapped_key.size(), *m_asymmetric);
        auto encrypter = make_encrypter(*m_algorithm, iv);
        if (!encrypter) {
            ec = crypto_error::encryptor_not_created;
            return false;
        }
        m_encrypter = std::move(encrypter);
    } catch (...) {
        ec = crypto_error::encryptor_not_created;
        return false;
    }
    ec.clear();
    return true;
}

std::size_t asymmetric_encryptor::get_encrypted_data_size(std::size_t n) const {
    if (!is_initialized() || !m_encrypter) {
        return 0;
    }
    std::size_t size = 0;
    try {
        crypto::round_up_to_blocks(n, m_encrypter->block_size(0), size);
    } catch (...) {
        return 0;
    }
    return size;
}

bool asymmetric_encryptor::cipher_prepared(std::error_code& ec) const {
    if (!is_initialized()) {
        ec = crypto_error::not_initialized;
        return false;
    }
    if (!m_encrypter) {
        ec = crypto_error::encryptor_not_created;
        return false;
    }
    return true;
}

std::vector<std::uint8_t> asymmetric_encryptor::authentication_tag(const std::uint8_t* cipher,
                                                                   std::size_t size) const {
    // The tag covers the IV as well, so neither part can be swapped for another's.
    std::vector<std::uint8_t> covered = m_encrypter->get_iv();
    covered.insert(covered.end(), cipher, cipher + size);
    return m_algorithm->authentication_tag(covered.data(), covered.size());
}

std::vector<std::uint8_t> asymmetric_encryptor::encrypt(const std::vector<std::uint8_t>& data,
                                                        std::error_code& ec) const {
    if (!cipher_prepared(ec)) {
        return {};
    }
    std::vector<std::uint8_t> record = wrap(data);
    auto wipe = foundation::make_deferred([&record] {
        if (!record.empty()) {
            explicit_bzero(record.data(), record.size());
        }
    });
    const std::size_t size = get_encrypted_data_size(record.size());
    if (record.empty() || size == 0) {
        ec = crypto_error::encrypt_failure;
        return {};
    }
    try {
        std::vector<std::uint8_t> out(size, 0);
        m_encrypter->encrypt(record.data(), record.size(), out.data());
        const std::vector<std::uint8_t> tag = authentication_tag(out.data(), out.size());
        out.insert(out.end(), tag.begin(), tag.end());
        ec.clear();
        return out;
    } catch (...) {
        ec = crypto_error::encrypt_failure;
        return {};
    }
}

std::vector<std::uint8_t> asymmetric_encryptor::decrypt(const std::vector<std::uint8_t>& cipher,
                                                        std::error_code& ec) const {
    if (!cipher_prepared(ec)) {
        return {};
    }
    try {
        // Whole blocks of ciphertext, then the tag; nothing is decrypted before the tag
        // proves that not one byte was changed.
        if (cipher.size() <= kTagSize) {
            ec = crypto_error::decrypt_failure;
            return {};
        }
        const std::size_t size = cipher.size() - kTagSize;
        if (get_encrypted_data_size(size) != size) {
            ec = crypto_error::decrypt_failure;
            return {};
        }
        const std::vector<std::uint8_t> expected = authentication_tag(cipher.data(), size);
        if (expected.size() != kTagSize ||
            !crypto::equal_in_constant_time(expected.data(), cipher.data() + size, kTagSize)) {
            ec = crypto_error::decrypt_failure;
            return {};
        }
        std::vector<std::uint8_t> record(size, 0);
        auto wipe = foundation::make_deferred([&record] {
            if (!record.empty()) {
                explicit_bzero(record.data(), record.size());
            }
        });
        m_encrypter->decrypt(cipher.data(), size, record.data());
        auto data = unwrap_record(record.data(), record.size());
        if (!data) {
            ec = crypto_error::decrypt_failure;
            return {};
        }
        ec.clear();
        return std::move(*data);
    } catch (...) {
        ec = crypto_error::decrypt_failure;
        return {};
    }
}

std::vector<std::uint8_t> asymmetric_encryptor::wrap(const std::vector<std::uint8_t>& data) {
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    std::vector<std::uint8_t> record;
    record.reserve(kPrefix + data.size());
    for (int shift = 0; shift < 32; shift += 8) {
        record.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    record.insert(record.end(), data.begin(), data.end());
    return record;
}

std::vector<std::uint8_t> asymmetric_encryptor::unwrap(const std::vector<std::uint8_t>& record) {
    return unwrap_record(record.data(), record.size()).value_or(std::vector<std::uint8_t>{});
}
