// Feeds arbitrary bytes to the symmetric key container import and to the public key and
// wrapped key imports. Any outcome but success or the provider's Exception is a bug.
#include <cstddef>
#include <cstdint>

#include "provider_fuzz_factory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto algorithm = fuzz_factory().create_symmetric(L"");
    try {
        // The seeds are sealed with this password.
        algorithm->import_key(L"fuzz", data, size);
        algorithm->create_encrypter();
    } catch (const Exception&) {
    }
    auto asymmetric = fuzz_factory().create_asymmetric(L"");
    try {
        asymmetric->import_public_key(data, size);
        asymmetric->export_public_key(0);
    } catch (const Exception&) {
    }
    asymmetric->initialize();
    try {
        algorithm->import_wrapped_key(data, size, *asymmetric);
    } catch (const Exception&) {
    }
    return 0;
}
