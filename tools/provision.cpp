#include "provision.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <string_view>

#include "crypto/account_token.h"
#include "crypto/crypto_error.h"
#include "crypto/hasher.h"
#include "crypto/randomizer.h"
#include "database/database.h"
#include "dist/sample_config.h"
#include "system/cast.h"
#include "system/text.h"
#include "system/unique_fd.h"
#include "system/wipe.h"
#include "ztcrypto/ztcrypto.h"

namespace provision {

namespace {

constexpr std::size_t kSecretSize = 32;
const std::wstring kDefault;  // the provider's default algorithms

struct new_container {
    bytes container;
    bytes public_key;
    bytes token;                 // the account's session token, derived from the container
    bytes key_agreement_public;  // the container's static key-agreement key

    ~new_container() { util::wipe(token); }
};

// A new key container under password, and the public key of its asymmetric key.
bool create_container(crypto_factory& factory, const std::wstring& password, std::time_t now,
                      std::uint32_t iterations, new_container& out, std::error_code& ec) {
    try {
        auto agreement = factory.self()->create_key_agreement(kDefault);
        out.container = agreement->create_container(password, now, iterations);
        out.token = agreement->derive_secret(crypto::kAccountTokenLabel).to_vector();
        out.key_agreement_public = agreement->get_public_key();
        auto asymmetric = factory.self()->create_asymmetric(kDefault);
        asymmetric->import_container(out.container.data(), out.container.size(), password);
        out.public_key = asymmetric->export_public_key(0);
    } catch (const std::exception&) {
        ec = crypto_error::internal_error;
        return false;
    }
    return true;
}

}  // namespace

std::wstring service_password(const bytes& secret) {
    // The same conversion the daemon applies when it reads "service.bin"; the narrow text
    // on the way is wiped.
    std::string hex = util::hexlify(secret);
    std::wstring password = cast::to_wstring(hex);
    util::wipe(hex);
    return password;
}

crypto_factory make_factory() {
    crypto_factory factory;
    bytes seed(kSecretSize);
    if (::getrandom(seed.data(), seed.size(), 0) != static_cast<ssize_t>(seed.size())) {
        return factory;
    }
    factory.initialize(std::move(seed));
    return factory;
}

bytes random_bytes(crypto_factory& factory, std::size_t n, std::error_code& ec) {
    Randomizer randomizer;
    bytes out(n);
    if (!randomizer.initialize(factory, ec) || !randomizer.random(out.data(), out.size(), ec)) {
        return {};
    }
    return out;
}

bool make_service(crypto_factory& factory, std::time_t now, service_credentials& out,
                  std::error_code& ec) {
    out.secret = random_bytes(factory, kSecretSize, ec);
    if (out.secret.size() != kSecretSize) {
        return false;
    }
    out.password = service_password(out.secret);
    new_container made;
    if (!create_container(factory, out.password, now, kServiceIterations, made, ec)) {
        return false;
    }
    out.container = std::move(made.container);
    out.public_keys = {std::move(made.public_key), std::move(made.key_agreement_public)};
    return true;
}

bytes service_file(const service_credentials& service) {
    // Sized first: a growing buffer would leave a copy of the secret behind.
    bytes file;
    file.reserve(service.secret.size() + service.container.size());
    file.insert(file.end(), service.secret.begin(), service.secret.end());
    file.insert(file.end(), service.container.begin(), service.container.end());
    return file;
}

bool write_database(crypto_factory& factory, const service_credentials& service,
                    const std::string& path, const std::vector<admin_request>& admins,
                    std::uint32_t iterations, std::time_t now, std::vector<admin_result>& created,
                    std::error_code& ec) {
    Database database(path);
    auto& cipher = database.crypto_service();
    if (!cipher.initialize(factory, ec) ||
        !cipher.import_container(service.password, service.container, ec) ||
        !cipher.create_encryptor(service.password, ec)) {
        return false;
    }
    Hasher hasher;
    if (!hasher.initialize(factory, ec)) {
        return false;
    }
    std::error_code hash_error;
    const auto service_hash = [&](const bytes& data) { return hasher.hash(data, hash_error); };

    created.clear();
    std::uint64_t id = 0;
    for (const auto& request : admins) {
        new_container made;
        if (!create_container(factory, request.password, now, iterations, made, ec)) {
            return false;
        }
        admin_result result{request.name, ++id, made.container, made.token};
        db::AdminEntry entry;
        entry.set_id(result.id);
        entry.set_name(request.name);
        entry.set_container(made.container, service_hash, static_cast<std::int64_t>(now));
        if (hash_error) {
            ec = hash_error;
            return false;
        }
        entry.set_public_key(std::move(made.public_key));
        entry.set_parameter(result.token);
        if (!database.insert_admin_entry(std::move(entry), ec)) {
            return false;
        }
        created.push_back(std::move(result));
    }
    return database.save(ec);
}

namespace {

// A hard link to target under a fresh name beside it, to restore it from; empty when target
// does not exist. False (ec set) when the link cannot be made.
bool keep_previous(const std::string& target, std::string& kept, std::error_code& ec) {
    kept.clear();
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        ec = std::error_code(errno, std::generic_category());
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            target + ".previous-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        if (::link(target.c_str(), name.c_str()) == 0) {
            kept = name;
            return true;
        }
        if (errno != EEXIST) {
            ec = std::error_code(errno, std::generic_category());
            return false;
        }
    }
    ec = std::make_error_code(std::errc::file_exists);
    return false;
}

}  // namespace

bool is_installed_sample_config(const std::string& path) {
    // O_NONBLOCK: a FIFO put in the configuration's place must not hold the tool up.
    os::unique_fd fd(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) != dist::sample_config.size()) {
        return false;
    }
    // One byte more than the sample, so a file that grew since fstat does not compare equal.
    std::string text(dist::sample_config.size() + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return std::string_view(text.data(), got) == dist::sample_config;
}

bool commit_all(std::vector<fio::staged_file>& staged, std::error_code& ec) {
    std::vector<std::string> previous(staged.size());
    const auto drop_previous = [&] {
        for (const auto& name : previous) {
            if (!name.empty()) {
                ::unlink(name.c_str());
            }
        }
    };
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (!keep_previous(staged[i].target(), previous[i], ec)) {
            drop_previous();
            return false;
        }
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (staged[i].commit(ec)) {
            continue;
        }
        for (std::size_t done = 0; done < i; ++done) {
            const std::string& target = staged[done].target();
            if (previous[done].empty()) {
                ::unlink(target.c_str());
            } else if (::rename(previous[done].c_str(), target.c_str()) == 0) {
                previous[done].clear();
            }
        }
        drop_previous();
        return false;
    }
    drop_previous();
    return true;
}

}  // namespace provision
