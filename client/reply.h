#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace client {

// Status values of a reply.
inline constexpr std::uint32_t kReplySuccess = 0;
inline constexpr std::uint32_t kReplyTrue = 1;
inline constexpr std::uint32_t kReplyFalse = 2;
inline constexpr std::uint32_t kReplyFailure = 255;

// A reply of the service as the client reads it: a status with its info text, an error
// record, and the result payload. A short status reply has only the status; the error and
// payload then keep their defaults.
struct service_reply {
    std::uint32_t status = kReplySuccess;
    std::string info;
    std::int32_t error_value = 0;
    std::string error_message;
    std::string error_category;
    std::vector<unsigned char> payload;

    // True for the answer "true" of a yes/no request.
    bool is_true() const noexcept { return status == kReplyTrue; }
    // Empty for a success, true or false reply; the service's error for a failure reply
    // (client_error::no_reason when it names none); client_error::bad_reply for a status
    // outside the protocol's values.
    std::error_code error() const;
};

// Decodes a full reply or a short status reply into out. Returns false (out unchanged) for
// bytes that are no reply frame, or whose status item holds no 4-byte status: a garbled
// reply must never read as a success. Texts are cleaned of control characters, so that a
// message cannot drive the terminal it is printed on.
bool decode_reply(const std::vector<unsigned char>& frame, service_reply& out);

}  // namespace client
