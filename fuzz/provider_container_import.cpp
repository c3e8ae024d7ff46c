// Feeds arbitrary bytes to the provider's key-container import, as the daemon does with the
// container of "service.bin". Any outcome but success or the provider's Exception is a bug.
#include <cstddef>
#include <cstdint>

#include "provider_fuzz_factory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The seeds are sealed with this password, so mutations reach the key opening as well.
    const std::wstring password = L"fuzz";
    auto agreement = fuzz_factory().create_key_agreement(L"");
    auto asymmetric = fuzz_factory().create_asymmetric(L"");
    try {
        agreement->import_container(data, size, password);
        // An accepted container must be usable throughout.
        agreement->get_storage_key_container(password);
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
