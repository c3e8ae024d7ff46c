// Feeds arbitrary bytes to hybrid decryption, as the daemon does with the key store files
// clients hand it: wrapped data key (80 bytes), IV (16 bytes), then ciphertext and tag.
// Any outcome but a decryption or "Decrypt failure" (no exception, no crash) is a bug.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "crypto/asymmetric_encryptor.h"
#include "crypto/crypto_factory.h"

namespace {

constexpr std::size_t kWrappedKey = 80;
constexpr std::size_t kIv = 16;

// The recipient: the key pair of the reference container, so seeds stay valid across runs.
asymmetric_encryptor& recipient() {
    static asymmetric_encryptor instance = [] {
        static crypto_factory factory;
        factory.initialize(std::vector<std::uint8_t>(32, 1));
        std::ifstream in(ZT_FUZZ_RECIPIENT_CONTAINER, std::ios::binary);
        const std::vector<std::uint8_t> container((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
        auto asymmetric = factory.self()->create_asymmetric(L"");
        asymmetric->import_container(container.data(), container.size(), L"reference-password");
        asymmetric_encryptor encryptor(asymmetric);
        std::error_code ec;
        encryptor.initialize(factory, ec);
        return encryptor;
    }();
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kWrappedKey + kIv) {
        return 0;
    }
    const std::vector<std::uint8_t> wrapped(data, data + kWrappedKey);
    const std::vector<std::uint8_t> iv(data + kWrappedKey, data + kWrappedKey + kIv);
    const std::vector<std::uint8_t> cipher(data + kWrappedKey + kIv, data + size);
    std::error_code ec;
    if (recipient().prepare_decrypt(iv, wrapped, ec)) {
        recipient().decrypt(cipher, ec);
    }
    return 0;
}
