#pragma once

// Databases of thousands of registered users, written directly with the database library:
// registering them through "Add" would cost a client's PBKDF2 per user. Every user is what
// a registration leaves: a key container of its own, the token derived from it as the
// parameter, the packed key store as the symmetric material, no disk.

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/asymmetric_encryptor.h"
#include "crypto/crypto_factory.h"
#include "database/database.h"

namespace bench_accounts {

using bytes = std::vector<unsigned char>;

// PBKDF2 iterations of the users' containers: the provider's minimum. A client's count
// (600 000) takes one more byte in the container's DER iteration field and nothing else.
inline constexpr std::uint32_t kUserIterations = 1000;

// A user's secrets and the key store file that carries them, made as
// client::prepare_keystore makes them but with iterations of PBKDF2 in the container.
struct user_keystore {
    bytes container;
    bytes token;
    bytes file;
};

// A key store for password, packed for the service whose public key is service_public_key.
bool make_keystore(const crypto_factory& factory, const bytes& service_public_key,
                   const std::wstring& password, std::uint32_t iterations, user_keystore& out,
                   std::error_code& ec);

// Adds the user entry a registration of name from keystore makes: a new id, the container
// with its service hash and creation time, the token, the whole key store file.
bool add_registered_user(Database& database, const std::string& name, user_keystore&& keystore,
                         std::error_code& ec);

// The name of the i-th user of a built database.
std::string user_name(std::size_t i);

// Opens the database file at path with the bytes of "service.bin", adds users named
// user_name(0), user_name(1), ... and saves it each time the user count reaches an entry
// of counts (ascending); images receives the file's bytes after each of those saves.
bool grow_database(const std::string& path, const bytes& service_file,
                   const std::vector<std::size_t>& counts, std::vector<bytes>& images,
                   std::error_code& ec);

// The service credentials held in the bytes of "service.bin".
Database::credentials service_credentials(const bytes& service_file);

// Loads the database file at path into database, with a fresh provider factory; false with
// ec when the factory cannot be seeded or the load fails.
bool open_database(Database& database, const std::string& path, const bytes& service_file,
                   std::error_code& ec);

}  // namespace bench_accounts
