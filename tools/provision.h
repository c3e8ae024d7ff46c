#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <system_error>
#include <vector>

#include "client/service_keys.h"
#include "crypto/crypto_factory.h"
#include "system/staged_file.h"
#include "system/wipe.h"

// Building blocks of the provisioning tool: the service secret and key container of
// "service.bin", and the administrator entries of the first "database.bin".
namespace provision {

using bytes = std::vector<unsigned char>;

// Iteration count of containers protected by a human password, and the floor below which
// the tool refuses to go unless told so explicitly (tests).
inline constexpr std::uint32_t kAdminIterations = 600000;
// The service container's password is 64 hexadecimal digits of random bytes: a small
// count suffices.
inline constexpr std::uint32_t kServiceIterations = 1000;

// The records below hold secrets and wipe them when they go. (Being destructible only,
// they are copied where they would be moved; every copy wipes its own bytes.)

// The contents of "service.bin" and what the daemon derives from it.
struct service_credentials {
    bytes secret;                      // 32 random bytes
    std::wstring password;             // 64 lower-case hexadecimal digits of the secret
    bytes container;                   // the service key container, sealed under password
    client::service_keys public_keys;  // what clients pin the service by

    ~service_credentials() {
        util::wipe(secret);
        util::wipe(password);
    }
};

// An administrator to create: account name and the password of its new key container.
struct admin_request {
    std::string name;
    std::wstring password;

    ~admin_request() { util::wipe(password); }
};

// An administrator as created: its container and token also go to the client.
struct admin_result {
    std::string name;
    std::uint64_t id = 0;
    bytes container;
    bytes token;

    ~admin_result() { util::wipe(token); }
};

// The password the daemon derives from a service secret: two lower-case hexadecimal digits
// per byte, as a wide string.
std::wstring service_password(const bytes& secret);

// A provider factory seeded from the operating system's random source; not initialized on
// failure.
crypto_factory make_factory();

// n random bytes from the provider; empty on failure (ec set).
bytes random_bytes(crypto_factory& factory, std::size_t n, std::error_code& ec);

// A fresh secret and a service container sealed under its password.
bool make_service(crypto_factory& factory, std::time_t now, service_credentials& out,
                  std::error_code& ec);

// "service.bin": the secret followed by the container.
bytes service_file(const service_credentials& service);

// Writes an encrypted database file at path holding one administrator per request (ids
// from 1 in request order), each with a new key container under its password (iterations
// as given), its container hash and creation time, its public key and the token derived from
// its container.
bool write_database(crypto_factory& factory, const service_credentials& service,
                    const std::string& path, const std::vector<admin_request>& admins,
                    std::uint32_t iterations, std::time_t now, std::vector<admin_result>& created,
                    std::error_code& ec);

// Whether path is a regular file (a link is not followed) that holds exactly the sample
// configuration this build installs: one nobody has edited, which --write-config may replace.
bool is_installed_sample_config(const std::string& path);

// Puts every staged file in place. When one rename fails, the targets already replaced get
// their previous files back (or are removed when there was none), so either all files are
// new or all are as they were; ec then says why.
bool commit_all(std::vector<fio::staged_file>& staged, std::error_code& ec);

}  // namespace provision
