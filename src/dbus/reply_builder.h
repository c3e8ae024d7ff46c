#pragma once

#include <cstdint>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "database/frame_writer.h"

// The reply payload of every request: a status, an error record and an optional result,
// each encoded with the shared framing. The payload then travels through the session's
// transfer context, encrypted or not.

// Statuses a reply can carry.
enum class reply_status_code : std::uint32_t {
    success = 0,  // also every reply that carries a result payload
    true_value = 1,
    false_value = 2,
    other = 3,  // what code() reports for a stored value outside this list
    failure = 255,
};

// Steps through success, true, false, other, failure and back to success; a value outside
// the list steps to failure.
reply_status_code& operator++(reply_status_code& code) noexcept;
reply_status_code operator++(reply_status_code& code, int) noexcept;

// The status item of a reply: a 32-bit value and an optional text.
class reply_status {
  public:
    using bytes = std::vector<unsigned char>;

    reply_status() = default;
    explicit reply_status(reply_status_code code, std::string info = {})
        : m_value(static_cast<std::uint32_t>(code)), m_info(std::move(info)) {}

    static reply_status success() { return reply_status(reply_status_code::success); }
    static reply_status true_value() { return reply_status(reply_status_code::true_value); }
    static reply_status false_value() { return reply_status(reply_status_code::false_value); }
    static reply_status failure() { return reply_status(reply_status_code::failure); }

    // A frame of two items: the value as 4 bytes little-endian, then the info text.
    bytes serialize() const;
    // Empty input changes nothing. Otherwise the items are taken in order: a value item of
    // a length other than 4 reads as 0, missing items read as empty.
    void deserialize(const bytes& frame);

    // The stored value when it is one of reply_status_code's, else reply_status_code::other.
    reply_status_code code() const noexcept;
    std::uint32_t value() const noexcept { return m_value; }
    const std::string& info() const noexcept { return m_info; }

  private:
    std::uint32_t m_value = 0;
    std::string m_info;
};

// The error item of a reply: what a client needs to rebuild the std::error_code, the value
// and the category name, plus the text in the daemon's language.
class reply_error {
  public:
    using bytes = std::vector<unsigned char>;

    reply_error() = default;

    // Takes ec's value, message text and category name.
    void load(const std::error_code& ec);

    // A frame of three items: the value as 4 bytes little-endian, the message, the category.
    bytes serialize() const;
    // Same reading rules as reply_status::deserialize.
    void deserialize(const bytes& frame);

    // True when an error is recorded (value not 0).
    explicit operator bool() const noexcept { return m_value != 0; }
    std::int32_t value() const noexcept { return m_value; }
    const std::string& message() const noexcept { return m_message; }
    const std::string& category() const noexcept { return m_category; }

  private:
    std::int32_t m_value = 0;
    std::string m_message;
    std::string m_category;
};

// Builds (and, on the client side, reads) a reply payload. The full reply is a frame of
// three items: the encoded status, the encoded error, the result payload. The short status
// replies are a frame of one item, the encoded status with an empty info; a reader of a
// full reply finds no error and no payload there and keeps their defaults.
class reply_builder {
  public:
    using bytes = std::vector<unsigned char>;

    // Status success, no error, no payload.
    reply_builder() = default;
    // The error reply of every handler: status failure and the error loaded from ec.
    explicit reply_builder(const std::error_code& ec);
    // A status and a result payload (handlers that return data use success).
    reply_builder(reply_status_code code, bytes&& payload);
    // A status and an info text.
    reply_builder(reply_status_code code, std::string&& info);
    explicit reply_builder(reply_status_code code);
    // Reads a received reply: the defaults, then pass(frame).
    explicit reply_builder(const bytes& frame);
    // The payload may be key material: it is wiped when the builder goes or is assigned to.
    reply_builder(const reply_builder&) = default;
    reply_builder(reply_builder&&) noexcept = default;
    reply_builder& operator=(const reply_builder& other);
    reply_builder& operator=(reply_builder&& other) noexcept;
    ~reply_builder();

    // The full reply; the builder is unchanged.
    bytes obtain() const;
    // A success reply whose payload is a frame that fill(frame_writer&) writes in place: a
    // long list is then encoded once, straight into the reply, not copied per level.
    template <typename Fill>
    static bytes success_frame(Fill&& fill);
    // Takes item 1 as the status, item 2 as the error, item 3 as the payload; missing items
    // read as empty.
    void pass(const bytes& frame);

    // The short status replies.
    static bytes success();
    static bytes failure();
    static bytes resp_true();
    static bytes resp_false();

    reply_status& status() noexcept { return m_status; }
    const reply_status& status() const noexcept { return m_status; }
    reply_error& error() noexcept { return m_error; }
    const reply_error& error() const noexcept { return m_error; }
    bytes& buffer() noexcept { return m_buffer; }
    const bytes& buffer() const noexcept { return m_buffer; }

  private:
    reply_status m_status;
    reply_error m_error;
    bytes m_buffer;
};

template <typename Fill>
reply_builder::bytes reply_builder::success_frame(Fill&& fill) {
    frame_writer reply;
    reply.add(reply_status(reply_status_code::success).serialize());
    reply.add(reply_error().serialize());
    reply.begin_frame();
    fill(reply);
    reply.end_frame();
    return std::move(reply).finish();
}
