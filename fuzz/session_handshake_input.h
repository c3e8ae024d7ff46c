// The input of the session_handshake target: a sequence of calls, each served by one step of
// the daemon's side of a session. Shared by the target and the seed generator.
//
// One call: step byte, form byte, three words (header, metadata, status), a chunk of data.
#pragma once

#include <cstdint>

#include "fuzz_input.h"

namespace fuzz::handshake {

// Which step of the server serves the call (the step byte modulo 8).
enum class step : std::uint8_t {
    open = 0,            // "Open"
    authenticate = 1,    // "SetAuthData": the cipher initialized first, as the frame does
    switch_context = 2,  // "SwitchContext"
    establish = 3,       // "SetupAuthenticatedSession"
    apply_token = 4,     // "SetPrivateParameter"
    setup_complete = 5,  // "SetupComplete"
    close = 6,           // "Close"
    request = 7,         // a request: the dispatch check, then receive and answer the body
};

// Form byte: how the call carries its words and data.
inline constexpr std::uint8_t kKindMask = 0x03;
inline constexpr std::uint8_t kWords = 0;   // up to three "u" words, then "ay" data
inline constexpr std::uint8_t kSealed = 1;  // one "ay": the flat packet, encrypted by the peer
inline constexpr std::uint8_t kArray = 2;   // one "ay": the data as it stands
inline constexpr std::uint8_t kNone = 3;    // no arguments at all
// For kWords: how many of the three words are left out (bits 2-3).
inline constexpr int kOmittedShift = 2;
// The data is replaced by fresh key material of the peer's key agreement.
inline constexpr std::uint8_t kPeerMaterial = 0x10;
// For kSealed: the long flat form even when the data is empty.
inline constexpr std::uint8_t kLongForm = 0x20;
// For kSealed: encrypted under the session key the peer derives without the token.
inline constexpr std::uint8_t kWithoutToken = 0x40;
// For step::apply_token: the account has no token.
inline constexpr std::uint8_t kEmptyToken = 0x80;

// At most this many calls are served per input.
inline constexpr int kMaxCalls = 24;

// The account's token: the peer uses it too.
inline const bytes kToken = {0x70, 0x61, 0x72, 0x61, 0x6D};

inline void write_call(input_writer& out, step s, std::uint8_t form, std::uint32_t header,
                       std::uint32_t metadata, std::uint32_t status = 4, const bytes& data = {}) {
    out.byte(static_cast<std::uint8_t>(s)).byte(form).word(header).word(metadata).word(status);
    out.chunk(data);
}

}  // namespace fuzz::handshake
