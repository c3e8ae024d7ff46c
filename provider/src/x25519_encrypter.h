#pragma once

#include <memory>
#include <optional>

#include "factory_core.h"
#include "secret.h"
#include "x25519.h"
#include "ztcrypto/asymmetric_encrypter.h"

namespace ztcrypto_detail {

// The default asymmetric encrypter: X25519 ECIES. encrypt() makes a fresh ephemeral key e
// and seals with AES-256-GCM under HKDF-SHA256(X25519(e, recipient), salt = e public ||
// recipient public, info "wrap"); each key is used once, so the nonce is fixed at zero.
class X25519Encrypter final : public AsymmetcricEncrypterBase {
  public:
    explicit X25519Encrypter(std::shared_ptr<FactoryCore> core) : core_(std::move(core)) {}

    bool is_ready(int mode) const override;
    void initialize() override;
    void import_container(const std::uint8_t* data, std::size_t size,
                          const std::wstring& password) override;
    std::vector<std::uint8_t> export_public_key(int mode) const override;
    void import_public_key(const std::uint8_t* data, std::size_t size) override;
    bool has_private_key() const override { return !private_key_.empty(); }
    std::vector<std::uint8_t> encrypt(const std::uint8_t* data, std::size_t size) const override;
    RawMemoryDefault decrypt(const std::uint8_t* data, std::size_t size) const override;

  private:
    std::shared_ptr<FactoryCore> core_;
    Secret private_key_;
    std::optional<PublicKey> public_key_;
};

}  // namespace ztcrypto_detail
