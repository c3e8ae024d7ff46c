#include "crypto/hasher.h"

#include "crypto/crypto_error.h"

namespace {

std::error_code out_of_memory() {
    return std::make_error_code(std::errc::not_enough_memory);
}

}  // namespace

bool Hasher::initialize(const crypto_factory& f, std::error_code& ec) {
    if (!f.is_initialized()) {
        ec = crypto_error::factory_not_initialized;
        return false;
    }
    try {
        auto hash = f.self()->create_hash(std::wstring());
        hash->initialize();
        m_hash = std::move(hash);
    } catch (...) {
        ec = out_of_memory();
        return false;
    }
    ec.clear();
    return true;
}

bool Hasher::is_initialized() const noexcept {
    try {
        return m_hash && m_hash->is_initialized();
    } catch (...) {
        return false;
    }
}

std::vector<std::uint8_t> Hasher::hash(const std::uint8_t* data, std::size_t size,
                                       std::error_code& ec) {
    if (!is_initialized()) {
        ec = crypto_error::hash_initialize_error;
        return {};
    }
    try {
        std::vector<std::uint8_t> digest(m_hash->size(), 0);
        m_hash->digest(data, size, digest.data());
        ec.clear();
        return digest;
    } catch (...) {
        ec = out_of_memory();
        return {};
    }
}

std::vector<std::uint8_t> Hasher::hash(const std::vector<std::uint8_t>& data, std::error_code& ec) {
    return hash(data.data(), data.size(), ec);
}

std::vector<std::uint8_t> Hasher::hash(const std::string& data, std::error_code& ec) {
    return hash(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), ec);
}

std::size_t Hasher::size() const noexcept {
    if (!is_initialized()) {
        return 0;
    }
    try {
        return m_hash->size();
    } catch (...) {
        return 0;
    }
}
