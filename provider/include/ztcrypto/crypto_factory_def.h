#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ztcrypto/asymmetric_encrypter.h"
#include "ztcrypto/export.h"
#include "ztcrypto/hash_algorithm.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/random.h"
#include "ztcrypto/sequence_checker.h"
#include "ztcrypto/symmetric_algorithm.h"
#include "ztcrypto/symmetric_encrypter.h"

namespace ztcrypto_detail {
struct FactoryCore;
}

// The provider's entry point. A factory owns one random generator (CTR-DRBG, AES-256)
// seeded from the operating system and personalised by initialize(); every object it
// creates draws its randomness from that generator and keeps it alive. An empty name
// selects the default algorithm; unknown names throw Exception (unknown_algorithm).
class ZTCRYPTO_API CryptoFactoryDef {
  public:
    CryptoFactoryDef();
    CryptoFactoryDef(const CryptoFactoryDef&) = delete;
    CryptoFactoryDef& operator=(const CryptoFactoryDef&) = delete;
    virtual ~CryptoFactoryDef();

    // (Re)creates the factory's generator, personalised with `size` bytes at `data`
    // (null only with size 0). Objects created before keep the generator they had.
    virtual void initialize(const std::uint8_t* data, std::size_t size);
    // The statistical checker: "nist" (also the default, for an empty name). Works before
    // initialize().
    virtual std::shared_ptr<SequenceCheckerBase> create_sequence_checker(const std::wstring& name);
    // A random generator fed by the factory's generator. Throws before initialize().
    virtual std::shared_ptr<RandomBase> create_random(const std::wstring& name);
    // A hash object (SHA-256), not yet initialized. Works before initialize().
    virtual std::shared_ptr<HashAlgorithmBase> create_hash(const std::wstring& name);
    // A symmetric algorithm (AES-256-CBC, no padding) without a key. Throws before initialize().
    virtual std::shared_ptr<SymmetricAlgoritmBase> create_symmetric(const std::wstring& name);
    // A key-agreement object (X25519 + HKDF-SHA256), empty. Throws before initialize().
    virtual std::shared_ptr<DiffieHellmanBase> create_key_agreement(const std::wstring& name);
    // An asymmetric encrypter (X25519 ECIES) holding no key until its initialize().
    // Throws before initialize().
    virtual std::shared_ptr<AsymmetcricEncrypterBase> create_asymmetric(const std::wstring& name);

  private:
    std::shared_ptr<ztcrypto_detail::FactoryCore> core_;
};
