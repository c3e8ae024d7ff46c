#include "client/reply.h"

#include <utility>

#include "client/client_error.h"
#include "client/service_error.h"
#include "database/serializer.h"
#include "system/cast.h"

namespace client {

namespace {

// The bytes as text, every control character (C0, DEL) replaced by '?'.
std::string printable(const std::vector<unsigned char>& bytes) {
    std::string text = cast::to_string(bytes);
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return text;
}

}  // namespace

std::error_code service_reply::error() const {
    switch (status) {
        case kReplySuccess:
        case kReplyTrue:
        case kReplyFalse:
            return {};
        case kReplyFailure:
            if (error_value == 0) {
                return client_error::no_reason;
            }
            return service_error(error_value, error_category, error_message);
        default:
            return client_error::bad_reply;
    }
}

bool decode_reply(const std::vector<unsigned char>& frame, service_reply& out) {
    Serializer items;
    items.deserialize(frame);
    if (items.empty()) {
        return false;
    }
    Serializer status;
    status.deserialize(items.pop_front());
    const std::vector<unsigned char> status_value = status.pop_front();
    if (status_value.size() != sizeof(std::uint32_t)) {
        return false;
    }
    service_reply reply;
    reply.status = cast::to_integer<std::uint32_t>(status_value);
    reply.info = printable(status.pop_front());

    Serializer error;
    error.deserialize(items.pop_front());
    reply.error_value = cast::to_integer<std::int32_t>(error.pop_front());
    reply.error_message = printable(error.pop_front());
    reply.error_category = printable(error.pop_front());
    reply.payload = items.pop_front();
    out = std::move(reply);
    return true;
}

}  // namespace client
