#pragma once

// An account's session token is derived from its key container, so the account's password
// is all a client needs: HKDF-SHA256 of the container's key-agreement private key with this
// label as info (DiffieHellmanBase::derive_secret). The provisioning tool stores the same
// value as an administrator's token, and the daemon mixes the stored token into the session
// key.
namespace crypto {

inline constexpr const char* kAccountTokenLabel = "ztctl token";

}  // namespace crypto
