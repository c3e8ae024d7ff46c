#pragma once

#include <memory>
#include <optional>

#include "factory_core.h"
#include "key_container.h"
#include "secret.h"
#include "x25519.h"
#include "ztcrypto/key_agreement.h"

namespace ztcrypto_detail {

// The default key agreement: X25519 with HKDF-SHA256. The input keying material of a
// session is two X25519 values (ephemeral-ephemeral, then ephemeral-static), so a session
// key depends on both a fresh key of each side and on the server's long-term key.
class X25519KeyAgreement final : public DiffieHellmanBase {
  public:
    explicit X25519KeyAgreement(std::shared_ptr<FactoryCore> core) : core_(std::move(core)) {}

    bool is_initialized() const override { return container_.has_value(); }
    void import_container(const std::uint8_t* data, std::size_t size,
                          const std::wstring& password) override;
    std::vector<std::uint8_t> export_container(const std::wstring& password) const override;
    std::pair<std::shared_ptr<RawMemoryDefault>, bool> import_key_material(
        const RawMemoryDefault& block) override;
    std::vector<std::uint8_t> get_additional_private_parameter() const override;
    void set_additional_private_parameter(const std::uint8_t* data, std::size_t size,
                                          int mode) override;
    void initialize() override;
    std::vector<std::uint8_t> get_symmetric_key_container(
        const std::wstring& password) const override;
    std::vector<std::uint8_t> create_container(const std::wstring& password, std::time_t created,
                                               std::uint32_t iterations) override;
    std::vector<std::uint8_t> create_client_key_material() override;
    void import_server_key_material(const RawMemoryDefault& answer) override;
    std::vector<std::uint8_t> get_public_key() const override;
    std::time_t get_creation_time() const override;
    RawMemoryDefault derive_secret(const std::string& label) const override;
    std::vector<std::uint8_t> seal_secret(const std::string& label, const std::uint8_t* data,
                                          std::size_t size) const override;
    RawMemoryDefault open_secret(const std::string& label, const std::uint8_t* sealed,
                                 std::size_t size) const override;
    std::vector<std::uint8_t> get_storage_key_container(
        const std::wstring& password) const override;

  private:
    // The secret derive_secret(label) hands out, kept inside.
    Secret labelled_secret(const std::string& label, const char* method) const;

    // The outcome of a key agreement: the input keying material and the HKDF salt
    // (client public || server ephemeral public).
    struct Agreement {
        Secret ikm;
        std::vector<std::uint8_t> salt;
    };

    const ContainerKeys& require_container(const char* method) const;

    std::shared_ptr<FactoryCore> core_;
    std::optional<ContainerKeys> container_;
    std::optional<Agreement> agreement_;
    Secret client_ephemeral_;
    PublicKey client_ephemeral_public_{};
    Secret private_parameter_;
};

}  // namespace ztcrypto_detail
