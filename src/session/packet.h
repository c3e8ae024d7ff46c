#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

// Which exchange a packet belongs to (its first control word).
enum class transfer_protocol_header : std::uint32_t {
    secure_transfer = 1,
    unsafe_transfer = 2,
    open_unsafe = 4,
    authentication = 7,
    open_secure = 8,
    switch_authenticated = 16,
    close_unsafe = 32,
    close_secure = 64,
    setup = 128,
    setup_authenticated = 256,
    switch_reset = 512,
};

// The step or kind of a packet within its exchange (its second control word).
enum class transfer_protocol_phase : std::uint32_t {
    send_confirmed = 1,
    send_unconfirmed = 2,
    confirm = 4,
    auth_reply = 5,
    import_key_material = 8,
    request = 16,
    set_iv = 32,
    acknowledge = 64,
    response = 128,
};

// Values of the third control word that the protocol itself gives; handlers may use others.
inline constexpr std::uint32_t kStatusAccepted = 1;
inline constexpr std::uint32_t kStatusRefused = 2;
inline constexpr std::uint32_t kStatusNone = 4;

// Three control words and a payload: the unit of every exchange inside a session. A
// decrypted packet's payload is a request or an answer in the clear (keys, tokens), so it
// is wiped before its memory goes back: when the packet is destroyed or assigned to.
struct packet {
    using bytes = std::vector<unsigned char>;

    std::uint32_t header = 0;
    std::uint32_t metadata = 0;
    std::uint32_t status = 0;
    bytes data;

    packet() = default;
    packet(std::uint32_t h, std::uint32_t m, std::uint32_t s, bytes payload = {})
        : header(h), metadata(m), status(s), data(std::move(payload)) {}
    // From the (word1, word2, word3, bytes) tuple that the transport reads off a message,
    // so that `packet p = network.receive_total(ec);` reads naturally.
    packet(std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bytes> fields)
        : header(std::get<0>(fields)),
          metadata(std::get<1>(fields)),
          status(std::get<2>(fields)),
          data(std::move(std::get<3>(fields))) {}

    packet(const packet&) = default;
    packet& operator=(const packet& other);
    // Moves the payload and leaves the source with all three words 0, so the source no
    // longer counts as a received packet.
    packet(packet&& other) noexcept;
    packet& operator=(packet&& other) noexcept;
    ~packet();

    // True when any control word is non-zero; the all-zero packet means nothing received.
    explicit operator bool() const noexcept { return header != 0 || metadata != 0 || status != 0; }
};

// A control word given as a number or as one of the enumerations above.
template <typename T>
concept packet_word = std::integral<T> || std::same_as<T, transfer_protocol_header> ||
    std::same_as<T, transfer_protocol_phase>;

template <packet_word T>
constexpr std::uint32_t to_word(T value) noexcept {
    return static_cast<std::uint32_t>(value);
}

// Flat forms of a packet (all words little-endian), with a CRC-32 trailer over what precedes
// it. The short form (16 bytes) carries no payload; the long form (20 + n bytes) carries
// the payload length n and the payload, even when n is 0.
std::vector<unsigned char> serialize_words(std::uint32_t header, std::uint32_t metadata,
                                           std::uint32_t status);
std::vector<unsigned char> serialize_words(std::uint32_t header, std::uint32_t metadata,
                                           std::uint32_t status,
                                           const std::vector<unsigned char>& data);

// Short form with status 4 ("no status").
template <packet_word H, packet_word M>
std::vector<unsigned char> serialize(H header, M metadata) {
    return serialize_words(to_word(header), to_word(metadata), kStatusNone);
}

// Short form.
template <packet_word H, packet_word M, packet_word S>
std::vector<unsigned char> serialize(H header, M metadata, S status) {
    return serialize_words(to_word(header), to_word(metadata), to_word(status));
}

// Long form with status 4 ("no status").
template <packet_word H, packet_word M>
std::vector<unsigned char> serialize(H header, M metadata, const std::vector<unsigned char>& data) {
    return serialize_words(to_word(header), to_word(metadata), kStatusNone, data);
}

// Long form.
template <packet_word H, packet_word M, packet_word S>
std::vector<unsigned char> serialize(H header, M metadata, S status,
                                     const std::vector<unsigned char>& data) {
    return serialize_words(to_word(header), to_word(metadata), to_word(status), data);
}

// Decodes a flat packet. Fewer than 16 bytes, or a long form whose declared payload does
// not fit the input, give transfer error "Bad data format"; a checksum mismatch gives
// "Data corrupted". Failures return the all-zero packet. Bytes after the checksum are
// ignored (the cipher's block padding).
packet deserialize(const std::vector<unsigned char>& input, std::error_code& ec);

// True when data is null or when the little-endian word stored right after its length
// bytes differs from their CRC-32. The caller guarantees length + 4 readable bytes.
bool corrupted(const unsigned char* data, std::size_t length) noexcept;
