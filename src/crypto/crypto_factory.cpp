#include "crypto/crypto_factory.h"

#include <string.h>

#include <string>
#include <utility>

namespace {

std::shared_ptr<CryptoFactoryDef> make_provider() {
    return std::make_shared<CryptoFactoryDef>();
}

}  // namespace

crypto_factory::crypto_factory() : m_maker(make_provider) {}

crypto_factory::crypto_factory(provider_maker maker)
    : m_maker(maker ? std::move(maker) : provider_maker(make_provider)) {}

// The maker is copied, not moved: the moved-from handle holds no factory but can still be
// seeded again.
crypto_factory::crypto_factory(crypto_factory&& other) noexcept
    : m_factory(std::move(other.m_factory)),
      m_initialized(std::exchange(other.m_initialized, false)),
      m_maker(other.m_maker) {}  // NOLINT(performance-move-constructor-init)

crypto_factory& crypto_factory::operator=(crypto_factory&& other) noexcept {
    if (this != &other) {
        m_factory = std::move(other.m_factory);
        m_initialized = std::exchange(other.m_initialized, false);
        m_maker = other.m_maker;
    }
    return *this;
}

bool crypto_factory::initialize(const std::uint8_t* data, std::size_t size) {
    try {
        m_factory = m_maker();
        if (!m_factory) {
            return false;
        }
        m_factory->initialize(data, size);
    } catch (...) {
        m_factory.reset();
        return false;
    }
    return check();
}

bool crypto_factory::initialize(const std::vector<std::uint8_t>& data) {
    return initialize(data.data(), data.size());
}

bool crypto_factory::initialize(std::vector<std::uint8_t>&& data) {
    std::vector<std::uint8_t> seed = std::move(data);
    const bool ok = initialize(seed.data(), seed.size());
    if (!seed.empty()) {
        explicit_bzero(seed.data(), seed.size());
    }
    return ok;
}

bool crypto_factory::check() {
    if (!m_factory) {
        return false;
    }
    try {
        m_factory->create_random(std::wstring());
    } catch (...) {
        // A factory that cannot give a random generator is of no use; do not report the
        // previous factory's success for it.
        m_initialized = false;
        return false;
    }
    m_initialized = true;
    return true;
}
