// The client's reading of a service reply: whatever bytes the service (or anyone who got
// between) sends, decoding must not read past them, must leave the result untouched when it
// refuses, and must never yield a text that can drive a terminal. What it accepts, encoded
// again the way the daemon encodes replies, must decode to the same reply; and it must read
// the same status, error value and payload as the daemon's own reply reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "client/client_error.h"
#include "client/reply.h"
#include "client/service_error.h"
#include "database/serializer.h"
#include "dbus/reply_builder.h"
#include "fuzz_input.h"
#include "system/cast.h"

namespace {

using fuzz::bytes;
using fuzz::check;

bool printable(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

// The cleaned text against the raw one: same length, every byte kept or a control byte
// shown as '?'.
bool cleaned_from(const std::string& cleaned, const std::string& raw) {
    if (cleaned.size() != raw.size()) {
        return false;
    }
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto byte = static_cast<unsigned char>(raw[i]);
        const bool control = byte < 0x20 || byte == 0x7F;
        if (cleaned[i] != (control ? '?' : raw[i])) {
            return false;
        }
    }
    return true;
}

// The full reply frame of a decoded reply, built with the daemon's encoders.
bytes encode(const client::service_reply& reply) {
    Serializer error;
    error.push_back(cast::to_vector(reply.error_value));
    error.push_back(cast::to_vector(reply.error_message));
    error.push_back(cast::to_vector(reply.error_category));
    Serializer frame;
    frame.push_back(
        reply_status(static_cast<reply_status_code>(reply.status), reply.info).serialize());
    frame.push_back(error.serialize());
    frame.push_back(reply.payload);
    return frame.serialize();
}

bool same(const client::service_reply& a, const client::service_reply& b) {
    return a.status == b.status && a.info == b.info && a.error_value == b.error_value &&
           a.error_message == b.error_message && a.error_category == b.error_category &&
           a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bytes frame(data, data + size);

    client::service_reply untouched;
    untouched.status = 0xDEAD;
    untouched.info = "untouched";
    untouched.payload = {1, 2, 3};
    client::service_reply reply = untouched;
    if (!client::decode_reply(frame, reply)) {
        check(same(reply, untouched));
        return 0;
    }
    check(printable(reply.info) && printable(reply.error_message) &&
          printable(reply.error_category));

    // The daemon's reader takes the same items.
    const reply_builder daemon_side(frame);
    check(daemon_side.status().value() == reply.status);
    check(daemon_side.error().value() == reply.error_value);
    check(daemon_side.buffer() == reply.payload);
    check(cleaned_from(reply.info, daemon_side.status().info()));
    check(cleaned_from(reply.error_message, daemon_side.error().message()));
    check(cleaned_from(reply.error_category, daemon_side.error().category()));

    client::service_reply again;
    check(client::decode_reply(encode(reply), again));
    check(same(again, reply));

    const std::error_code ec = reply.error();
    switch (reply.status) {
        case client::kReplySuccess:
        case client::kReplyTrue:
        case client::kReplyFalse:
            check(!ec);
            break;
        case client::kReplyFailure:
            check(static_cast<bool>(ec));
            if (reply.error_value != 0) {
                check(ec.value() == reply.error_value);
                check(ec.category().name() == reply.error_category || client::is_remote(ec));
            } else {
                check(ec == client_error::no_reason);
            }
            check(printable(ec.message()) || !client::is_remote(ec));
            break;
        default:
            check(ec == client_error::bad_reply);
            break;
    }
    return 0;
}
