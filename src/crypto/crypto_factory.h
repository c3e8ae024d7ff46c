#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ztcrypto/crypto_factory_def.h"

// The daemon's handle on the cryptographic provider: one shared provider factory from which
// every algorithm object is created. Copies share the provider factory; a moved-from handle
// holds none and is not initialized.
class crypto_factory {
  public:
    // Makes the provider factory that initialize() seeds. The default makes the provider's
    // own CryptoFactoryDef; tests hand in factories that fail on purpose.
    using provider_maker = std::function<std::shared_ptr<CryptoFactoryDef>()>;

    crypto_factory();
    explicit crypto_factory(provider_maker maker);
    crypto_factory(const crypto_factory&) = default;
    crypto_factory& operator=(const crypto_factory&) = default;
    crypto_factory(crypto_factory&& other) noexcept;
    crypto_factory& operator=(crypto_factory&& other) noexcept;
    ~crypto_factory() = default;

    // Replaces the held provider factory with a new one seeded from size bytes at data, then
    // runs check(). Returns true when both succeed. When seeding throws, no factory is held
    // afterwards; when only the check fails, the new factory is held but not initialized.
    bool initialize(const std::uint8_t* data, std::size_t size);
    bool initialize(const std::vector<std::uint8_t>& data);
    // As above; the seed is wiped once the provider has taken it.
    bool initialize(std::vector<std::uint8_t>&& data);

    // Asks the held factory for a default random generator; true (and initialized) when it
    // gives one, false when there is no factory or it throws.
    bool check();

    // True when a provider factory is held and passed its check.
    bool is_initialized() const noexcept { return m_factory != nullptr && m_initialized; }
    explicit operator bool() const noexcept { return is_initialized(); }

    // A shared handle on the provider factory (null when none is held).
    std::shared_ptr<CryptoFactoryDef> self() const noexcept { return m_factory; }

  private:
    std::shared_ptr<CryptoFactoryDef> m_factory;
    bool m_initialized = false;
    provider_maker m_maker;
};
