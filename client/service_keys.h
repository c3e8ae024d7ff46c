#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace client {

// Where the provisioning tool records the service's public keys for its clients.
inline constexpr const char* kServiceKeysPath = "/etc/ztctl/service.pub";

// The service's public keys as pinned on this machine: the asymmetric key as "GetPublicKey"
// returns it (DER SubjectPublicKeyInfo) and the static key-agreement key (32 raw bytes, the
// second half of the service's answer in the handshake).
struct service_keys {
    std::vector<unsigned char> asymmetric;
    std::vector<unsigned char> key_agreement;
};

// Parses the text of a pin file: lines "asymmetric HEX" and "key-agreement HEX", blank lines
// and lines starting with '#' ignored. Both keys, each once, with an even number of hex
// digits; the key-agreement key 32 bytes. Anything else gives client_error::bad_pin_file.
bool parse_service_keys(const std::string& text, service_keys& out, std::error_code& ec);

// Reads the pin file at path. A missing file pins nothing (out empty, true); a file that
// exists but cannot be read or parsed, is not a regular file, or is larger than a pin file
// can be, gives client_error::bad_pin_file: a damaged pin must not silently stop pinning.
bool read_service_keys(const std::string& path, std::optional<service_keys>& out,
                       std::error_code& ec);

// The text of a pin file for keys, as parse_service_keys reads it.
std::string format_service_keys(const service_keys& keys);

}  // namespace client
