#include "test_support.h"

#include <fstream>
#include <iterator>

namespace provider_test {

std::shared_ptr<CryptoFactoryDef> make_factory() {
    auto factory = std::make_shared<CryptoFactoryDef>();
    const std::uint8_t seed[] = "provider tests";
    factory->initialize(seed, sizeof seed);
    return factory;
}

Bytes make_container(CryptoFactoryDef& factory, const std::wstring& password,
                     std::uint32_t iterations, std::time_t created) {
    return factory.create_key_agreement(L"")->create_container(password, created, iterations);
}

Bytes key_fingerprint(CryptoFactoryDef& factory, const Bytes& key_container,
                      const std::wstring& password) {
    auto algorithm = factory.create_symmetric(L"");
    algorithm->import_key(password, key_container.data(), key_container.size());
    auto encrypter = algorithm->create_encrypter();
    encrypter->set_iv(Bytes(16, 0));
    const Bytes text(32, 0x5A);
    Bytes out(32);
    encrypter->encrypt(text.data(), text.size(), out.data());
    return out;
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace provider_test
