#include "bench/user_database.h"

#include <sys/random.h>

#include <cstdio>
#include <ctime>
#include <utility>

#include "client/account_key.h"
#include "client/keystore.h"
#include "crypto/crypto_error.h"
#include "crypto/crypto_helper.h"
#include "crypto/hasher.h"
#include "database/database_file.h"
#include "handlers/container.h"
#include "provision.h"

namespace bench_accounts {

namespace {

constexpr std::size_t kSecretSize = 32;
constexpr std::size_t kDiskKeySize = 32;

// Whether the daemon's side reads keystore as a registration does: unpacked with the
// service's cipher, it gives back the container and the token (else ec says why).
bool opens_as_registration(Database& database, const user_keystore& keystore, std::error_code& ec) {
    asymmetric_encryptor cipher = database.crypto_service().get_cipher();
    Container::Datastore store;
    if (!cipher.initialize(database.crypto_service().get_factory(), ec) ||
        !store.unpack(cipher, keystore.file, ec)) {
        return false;
    }
    if (store.service.container != keystore.container ||
        store.keystore.parameter != keystore.token || store.keystore.key.size() != kDiskKeySize) {
        ec = crypto_error::internal_error;
        return false;
    }
    return true;
}

}  // namespace

bool make_keystore(const crypto_factory& factory, const bytes& service_public_key,
                   const std::wstring& password, std::uint32_t iterations, user_keystore& out,
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
            agreement->create_container(password, std::time(nullptr), iterations);
        store.keystore.parameter = agreement->derive_secret(client::kTokenLabel).to_vector();
        store.keystore.key.resize(kDiskKeySize);
        provider->create_random(L"")->generate(store.keystore.key.data(), kDiskKeySize);
        store.service.material = agreement->seal_secret(
            client::kDiskKeyLabel, store.keystore.key.data(), store.keystore.key.size());
    } catch (...) {
        ec = crypto_error::internal_error;
        return false;
    }
    out.file = store.pack(cipher, ec);
    if (out.file.empty()) {
        return false;
    }
    out.container = store.service.container;
    out.token = store.keystore.parameter;
    ec.clear();
    return true;
}

bool add_registered_user(Database& database, const std::string& name, user_keystore&& keystore,
                         std::error_code& ec) {
    const std::int64_t created = crypto::extract_container_time(keystore.container, ec);
    if (ec) {
        return false;
    }
    Hasher hasher;
    if (!hasher.initialize(database.crypto_service().get_factory(), ec)) {
        return false;
    }
    std::error_code hash_error;
    db::UserEntry entry;
    entry.set_id(database.id_manager().obtain_id());
    entry.set_name(name);
    entry.set_container(
        std::move(keystore.container),
        [&](const bytes& data) { return hasher.hash(data, hash_error); }, created);
    if (hash_error) {
        ec = hash_error;
        return false;
    }
    entry.set_parameter(std::move(keystore.token));
    entry.set_symmetric_material(std::move(keystore.file));
    return database.insert_user_entry(std::move(entry), ec);
}

std::string user_name(std::size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "user%05zu", i);
    return name;
}

Database::credentials service_credentials(const bytes& service_file) {
    if (service_file.size() <= kSecretSize) {
        return {};
    }
    const bytes secret(service_file.begin(), service_file.begin() + kSecretSize);
    return {provision::service_password(secret),
            bytes(service_file.begin() + kSecretSize, service_file.end())};
}

bool open_database(Database& database, const std::string& path, const bytes& service_file,
                   std::error_code& ec) {
    const crypto_factory factory = client::seeded_factory();
    if (!factory) {
        ec = crypto_error::not_initialized;
        return false;
    }
    return database.crypto_service().initialize(factory, ec) &&
           database.load(path, service_credentials(service_file), ec);
}

bool grow_database(const std::string& path, const bytes& service_file,
                   const std::vector<std::size_t>& counts, std::vector<bytes>& images,
                   std::error_code& ec) {
    images.clear();
    Database database;
    if (!open_database(database, path, service_file, ec)) {
        return false;
    }
    const crypto_factory& factory = database.crypto_service().get_factory();
    const bytes public_key = database.crypto_service().get_public_key(ec);
    if (ec) {
        return false;
    }
    std::size_t made = 0;
    for (const std::size_t count : counts) {
        for (; made < count; ++made) {
            user_keystore keystore;
            const std::wstring password = L"password of user " + std::to_wstring(made);
            if (!make_keystore(factory, public_key, password, kUserIterations, keystore, ec) ||
                (made == 0 && !opens_as_registration(database, keystore, ec)) ||
                !add_registered_user(database, user_name(made), std::move(keystore), ec)) {
                return false;
            }
        }
        bytes image;
        if (!database.save(ec) || !db::file::read(path, image, ec)) {
            return false;
        }
        images.push_back(std::move(image));
    }
    return true;
}

}  // namespace bench_accounts
