#pragma once

#include <string>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "ztcrypto/raw_memory.h"

namespace client {

// The label under which the key that seals an account's disk key is derived.
inline constexpr const char* kDiskKeyLabel = "ztctl disk key";

// The PBKDF2 iterations of a new account's key container.
inline constexpr std::uint32_t kContainerIterations = 600000;

// A provider factory seeded from the operating system's random source (not initialized
// when the source fails).
crypto_factory seeded_factory();

// Makes a new account's secrets from its password and packs them as a key store for the
// service whose public key is service_public_key (what "GetPublicKey" answers): a key
// container sealed under password, the session token derived from it, a random 32-byte
// disk key, and the disk key sealed so that only the password holder opens it (the
// service material). file receives the bytes a registration reads; every secret is wiped
// before returning. Failures: client_error::keystore_failed, or the import error of a
// public key that is not the service's.
bool prepare_keystore(const crypto_factory& factory,
                      const std::vector<unsigned char>& service_public_key,
                      const std::wstring& password, std::vector<unsigned char>& file,
                      std::error_code& ec);

// The disk key sealed in an account's symmetric material, opened with the account's key
// container and password. The material is either the service material itself or, before
// the disk is created, the whole key store (its third item is taken). A wrong password
// gives client_error::wrong_password; material that does not open
// client_error::damaged_material.
RawMemoryDefault open_disk_key(const crypto_factory& factory,
                               const std::vector<unsigned char>& container,
                               const std::wstring& password,
                               const std::vector<unsigned char>& material, std::error_code& ec);

// Writes file (a key store) to a new private file: mode 0600 in a new directory of mode
// 0700 under the temporary directory. path receives the file's path; remove it, and then
// its directory, with remove_keystore_file.
bool write_keystore_file(const std::vector<unsigned char>& file, std::string& path,
                         std::error_code& ec);
// Removes what write_keystore_file made (the file may be gone already).
void remove_keystore_file(const std::string& path) noexcept;

}  // namespace client
