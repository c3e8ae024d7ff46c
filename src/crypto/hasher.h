#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/hash_algorithm.h"

// The provider's default message digest.
class Hasher {
  public:
    // Creates and initializes the hash object. f not initialized: "Factory not
    // initialized"; a provider failure: ENOMEM.
    bool initialize(const crypto_factory& f, std::error_code& ec);
    bool is_initialized() const noexcept;

    // The digest of the data (size() bytes). Not initialized: "Hash algorithm initialize
    // error"; a provider failure: ENOMEM; both give an empty vector.
    std::vector<std::uint8_t> hash(const std::uint8_t* data, std::size_t size, std::error_code& ec);
    std::vector<std::uint8_t> hash(const std::vector<std::uint8_t>& data, std::error_code& ec);
    std::vector<std::uint8_t> hash(const std::string& data, std::error_code& ec);

    // The digest length; 0 when not initialized.
    std::size_t size() const noexcept;

  private:
    std::shared_ptr<HashAlgorithmBase> m_hash;
};
