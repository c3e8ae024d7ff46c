#include "client/keystore.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "client/account_key.h"
#include "client/client_error.h"
#include "crypto/asymmetric_encryptor.h"
#include "handlers/container.h"
#include "system/unique_fd.h"
#include "system/wipe.h"
#include "ztcrypto/exception.h"

namespace client {

namespace {

constexpr std::size_t kSeedSize = 32;
constexpr std::size_t kDiskKeySize = 32;

std::vector<unsigned char> to_bytes(const RawMemoryDefault& memory) {
    return memory.to_vector();
}

}  // namespace

crypto_factory seeded_factory() {
    crypto_factory factory;
    std::vector<unsigned char> seed(kSeedSize);
    if (::getrandom(seed.data(), seed.size(), 0) == static_cast<ssize_t>(seed.size())) {
        factory.initialize(std::move(seed));
    }
    return factory;
}

bool prepare_keystore(const crypto_factory& factory,
                      const std::vector<unsigned char>& service_public_key,
                      const std::wstring& password, std::vector<unsigned char>& file,
                      std::error_code& ec) {
    asymmetric_encryptor cipher;
    if (!cipher.initialize(factory, ec) || !cipher.import_public_key(service_public_key, ec)) {
        return false;
    }
    Container::Datastore store;
    try {
        const auto provider = factory.self();
        auto agreement = provider->create_key_agreement(L"");
        store.service.container =
            agreement->create_container(password, std::time(nullptr), kContainerIterations);
        store.keystore.parameter = to_bytes(agreement->derive_secret(kTokenLabel));
        store.keystore.key.resize(kDiskKeySize);
        provider->create_random(L"")->generate(store.keystore.key.data(), kDiskKeySize);
        store.service.material = agreement->seal_secret(kDiskKeyLabel, store.keystore.key.data(),
                                                        store.keystore.key.size());
    } catch (...) {
        ec = client_error::keystore_failed;
        return false;
    }
    auto packed = store.pack(cipher, ec);
    if (packed.empty()) {
        ec = client_error::keystore_failed;
        return false;
    }
    file = std::move(packed);
    ec.clear();
    return true;
}

RawMemoryDefault open_disk_key(const crypto_factory& factory,
                               const std::vector<unsigned char>& container,
                               const std::wstring& password,
                               const std::vector<unsigned char>& material, std::error_code& ec) {
    std::vector<unsigned char> sealed = material;
    Container::Datastore store;
    if (store.unpack(material)) {
        sealed = store.service.material;
    }
    try {
        auto agreement = factory.self()->create_key_agreement(L"");
        try {
            agreement->import_container(container.data(), container.size(), password);
        } catch (const Exception& e) {
            ec = e.code() == Exception::authentication_failed ? client_error::wrong_password
                                                              : client_error::damaged_container;
            return {};
        }
        RawMemoryDefault key = agreement->open_secret(kDiskKeyLabel, sealed.data(), sealed.size());
        ec.clear();
        return key;
    } catch (...) {
        ec = client_error::damaged_material;
        return {};
    }
}

bool write_keystore_file(const std::vector<unsigned char>& file, std::string& path,
                         std::error_code& ec) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base == '/' ? base : "/tmp") + "/ztctl-keystore-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ec = {errno, std::generic_category()};
        return false;
    }
    const std::string target = pattern + "/keystore";
    os::unique_fd fd(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    std::size_t written = 0;
    while (fd && written < file.size()) {
        const ssize_t n = ::write(fd.get(), file.data() + written, file.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (!fd || written != file.size() || ::fsync(fd.get()) != 0) {
        ec = {errno != 0 ? errno : EIO, std::generic_category()};
        remove_keystore_file(target);
        return false;
    }
    path = target;
    ec.clear();
    return true;
}

void remove_keystore_file(const std::string& path) noexcept {
    ::unlink(path.c_str());
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        ::rmdir(path.substr(0, slash).c_str());
    }
}

}  // namespace client
