// Feeds arbitrary bytes to the provider's key-container import, as the daemon does with the
// container of "service.bin". Any outcome but success or the provider's Exception is a bug.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ztcrypto/ztcrypto.h"

namespace {

CryptoFactoryDef& factory() {
    static const std::unique_ptr<CryptoFactoryDef> instance = [] {
        auto f = std::make_unique<CryptoFactoryDef>();
        f->initialize(nullptr, 0);
        return f;
    }();
    return *instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The seeds are sealed with this password, so mutations reach the key opening as well.
    const std::wstring password = L"fuzz";
    auto agreement = factory().create_key_agreement(L"");
    auto asymmetric = factory().create_asymmetric(L"");
    try {
        agreement->import_container(data, size, password);
        // An accepted container must be usable throughout.
        agreement->get_symmetric_key_container(password);
        agreement->export_container(password);
    } catch (const Exception&) {
    }
    try {
        asymmetric->import_container(data, size, password);
        asymmetric->export_public_key(0);
    } catch (const Exception&) {
    }
    return 0;
}
