#include "dbus/reply_builder.h"

#include "database/serializer.h"
#include "system/cast.h"
#include "system/wipe.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes to_bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string to_text(const bytes& item) {
    return {item.begin(), item.end()};
}

// Wraps one encoded status into the frame of a short status reply.
bytes build_status(bytes&& status) {
    Serializer frame;
    frame.push_back(std::move(status));
    return frame.serialize();
}

// A status with an empty info item.
bytes serial_status(reply_status_code code) {
    return reply_status(code).serialize();
}

}  // namespace

reply_status_code& operator++(reply_status_code& code) noexcept {
    switch (code) {
        case reply_status_code::success:
            code = reply_status_code::true_value;
            break;
        case reply_status_code::true_value:
            code = reply_status_code::false_value;
            break;
        case reply_status_code::false_value:
            code = reply_status_code::other;
            break;
        case reply_status_code::other:
            code = reply_status_code::failure;
            break;
        case reply_status_code::failure:
            code = reply_status_code::success;
            break;
        default:
            code = reply_status_code::failure;
            break;
    }
    return code;
}

reply_status_code operator++(reply_status_code& code, int) noexcept {
    const reply_status_code before = code;
    ++code;
    return before;
}

bytes reply_status::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector(m_value));
    frame.push_back(to_bytes(m_info));
    return frame.serialize();
}

void reply_status::deserialize(const bytes& input) {
    if (input.empty()) {
        return;
    }
    Serializer frame;
    frame.deserialize(input);
    m_value = cast::to_integer<std::uint32_t>(frame.pop_front());
    m_info = to_text(frame.pop_front());
}

reply_status_code reply_status::code() const noexcept {
    switch (static_cast<reply_status_code>(m_value)) {
        case reply_status_code::success:
        case reply_status_code::true_value:
        case reply_status_code::false_value:
        case reply_status_code::other:
        case reply_status_code::failure:
            return static_cast<reply_status_code>(m_value);
    }
    return reply_status_code::other;
}

void reply_error::load(const std::error_code& ec) {
    m_value = ec.value();
    m_message = ec.message();
    m_category = ec.category().name();
}

bytes reply_error::serialize() const {
    Serializer frame;
    frame.push_back(cast::to_vector(m_value));
    frame.push_back(to_bytes(m_message));
    frame.push_back(to_bytes(m_category));
    return frame.serialize();
}

void reply_error::deserialize(const bytes& input) {
    if (input.empty()) {
        return;
    }
    Serializer frame;
    frame.deserialize(input);
    m_value = cast::to_integer<std::int32_t>(frame.pop_front());
    m_message = to_text(frame.pop_front());
    m_category = to_text(frame.pop_front());
}

reply_builder::reply_builder(const std::error_code& ec) : m_status(reply_status_code::failure) {
    m_error.load(ec);
}

reply_builder::reply_builder(reply_status_code code, bytes&& payload)
    : m_status(code), m_buffer(std::move(payload)) {}

reply_builder::reply_builder(reply_status_code code, std::string&& info)
    : m_status(code, std::move(info)) {}

reply_builder::reply_builder(reply_status_code code) : m_status(code) {}

reply_builder::reply_builder(const bytes& frame) {
    pass(frame);
}

reply_builder& reply_builder::operator=(const reply_builder& other) {
    if (this != &other) {
        reply_builder copy(other);
        *this = std::move(copy);
    }
    return *this;
}

reply_builder& reply_builder::operator=(reply_builder&& other) noexcept {
    if (this != &other) {
        util::wipe(m_buffer);
        m_status = std::move(other.m_status);
        m_error = std::move(other.m_error);
        m_buffer = std::move(other.m_buffer);
    }
    return *this;
}

reply_builder::~reply_builder() {
    util::wipe(m_buffer);
}

bytes reply_builder::obtain() const {
    // Written straight into the reply: the payload is copied once, not twice.
    const bytes status = m_status.serialize();
    const bytes error = m_error.serialize();
    frame_writer frame;
    // The frame header (8 bytes) and three item lengths (4 bytes each) besides the items.
    frame.reserve(8 + 3 * 4 + status.size() + error.size() + m_buffer.size());
    frame.add(status);
    frame.add(error);
    frame.add(m_buffer);
    return std::move(frame).finish();
}

void reply_builder::pass(const bytes& input) {
    Serializer frame;
    frame.deserialize(input);
    m_status.deserialize(frame.pop_front());
    m_error.deserialize(frame.pop_front());
    util::wipe(m_buffer);
    m_buffer = frame.pop_front();
}

bytes reply_builder::success() {
    return build_status(serial_status(reply_status_code::success));
}

bytes reply_builder::failure() {
    return build_status(serial_status(reply_status_code::failure));
}

bytes reply_builder::resp_true() {
    return build_status(serial_status(reply_status_code::true_value));
}

bytes reply_builder::resp_false() {
    return build_status(serial_status(reply_status_code::false_value));
}
