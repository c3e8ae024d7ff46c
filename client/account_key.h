#pragma once

#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/account_token.h"
#include "ztcrypto/crypto_factory_def.h"
#include "ztcrypto/key_agreement.h"
#include "ztcrypto/raw_memory.h"

namespace client {

// The label under which an account's session token is derived from its key container.
inline constexpr const char* kTokenLabel = crypto::kAccountTokenLabel;

// An account's key container, opened with the account's password: the client's proof of
// being that account, from which the session token is derived.
class account_key {
  public:
    // Opens container with password. A wrong password gives client_error::wrong_password,
    // a malformed container client_error::damaged_container; the key stays closed then.
    bool open(CryptoFactoryDef& factory, const std::vector<unsigned char>& container,
              const std::wstring& password, std::error_code& ec);
    bool is_open() const noexcept { return m_agreement != nullptr; }

    // The account's session token, 32 bytes in wiped memory; an empty block with
    // crypto_error::not_initialized when the key is not open.
    RawMemoryDefault token(std::error_code& ec) const;

  private:
    std::shared_ptr<DiffieHellmanBase> m_agreement;
};

}  // namespace client
