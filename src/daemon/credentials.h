#pragma once

#include <string>
#include <system_error>
#include <utility>
#include <vector>

// The service credentials: the password of the service key container (the 64-digit
// lower-case hexadecimal text of the 32-byte service secret) and the container itself.
using service_credentials = std::pair<std::wstring, std::vector<unsigned char>>;

// Reads "service.bin" at path: bytes 0..31 are the secret, the rest is the container.
// A missing or unreadable file gives an empty pair and ec; a file of 32 bytes or fewer
// gives an empty container (which callers treat as a missing service file).
service_credentials load_credentials(const std::string& path, std::error_code& ec);

// The split of load_credentials on bytes already in memory.
service_credentials split_credentials(const std::vector<unsigned char>& content);
