#pragma once

#include <memory>

#include "factory_core.h"
#include "secret.h"
#include "ztcrypto/symmetric_algorithm.h"

namespace ztcrypto_detail {

// The default symmetric algorithm: a 32-byte AES-256 key for AES-256-CBC encrypters.
class AesAlgorithm final : public SymmetricAlgoritmBase {
  public:
    explicit AesAlgorithm(std::shared_ptr<FactoryCore> core) : core_(std::move(core)) {}

    bool is_key_ready() const override { return !key_.empty(); }
    void import_key(const std::wstring& password, const std::uint8_t* data,
                    std::size_t size) override;
    void import_wrapped_key(const std::uint8_t* data, std::size_t size,
                            const AsymmetcricEncrypterBase& asymmetric) override;
    std::vector<std::uint8_t> export_wrapped_key(
        const AsymmetcricEncrypterBase& asymmetric) const override;
    void generate_key() override;
    std::shared_ptr<SymmetricEncrypter> create_encrypter() const override;
    std::vector<std::uint8_t> export_key(const std::wstring& password) const override;
    std::size_t key_size() const override { return kKeySize; }
    std::vector<std::uint8_t> authentication_tag(const std::uint8_t* data,
                                                 std::size_t n) const override;

  private:
    static constexpr std::size_t kKeySize = 32;
    static constexpr std::size_t kTagSize = 32;

    void require_key(const char* method) const;

    std::shared_ptr<FactoryCore> core_;
    Secret key_;
};

}  // namespace ztcrypto_detail
