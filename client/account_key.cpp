#include "client/account_key.h"

#include "client/client_error.h"
#include "crypto/crypto_error.h"
#include "ztcrypto/exception.h"

namespace client {

bool account_key::open(CryptoFactoryDef& factory, const std::vector<unsigned char>& container,
                       const std::wstring& password, std::error_code& ec) {
    try {
        auto agreement = factory.create_key_agreement(L"");
        agreement->import_container(container.data(), container.size(), password);
        m_agreement = std::move(agreement);
        ec.clear();
        return true;
    } catch (const Exception& e) {
        // A sealed key that does not open is the password's fault; anything else is the
        // container's.
        ec = e.code() == Exception::authentication_failed ? client_error::wrong_password
                                                          : client_error::damaged_container;
    } catch (...) {
        ec = client_error::damaged_container;
    }
    return false;
}

RawMemoryDefault account_key::token(std::error_code& ec) const {
    if (!m_agreement) {
        ec = crypto_error::not_initialized;
        return {};
    }
    try {
        RawMemoryDefault token = m_agreement->derive_secret(kTokenLabel);
        ec.clear();
        return token;
    } catch (...) {
        ec = crypto_error::internal_error;
        return {};
    }
}

}  // namespace client
