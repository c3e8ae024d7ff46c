#include "session/packet.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "session/crc32.h"
#include "session/transfer_error.h"
#include "system/wipe.h"

namespace {

constexpr std::size_t kWordSize = 4;
constexpr std::size_t kShortSize = 4 * kWordSize;       // three words and the checksum
constexpr std::size_t kLongHeaderSize = 4 * kWordSize;  // three words and the length

void put_word(unsigned char* out, std::uint32_t value) noexcept {
    for (std::size_t i = 0; i < kWordSize; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

std::uint32_t get_word(const unsigned char* in) noexcept {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < kWordSize; ++i) {
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

void put_checksum(std::vector<unsigned char>& out, std::size_t covered) noexcept {
    put_word(out.data() + covered, crc32(out.data(), covered, 0, kCrc32Prefetch));
}

}  // namespace

packet::packet(packet&& other) noexcept
    : header(std::exchange(other.header, 0)),
      metadata(std::exchange(other.metadata, 0)),
      status(std::exchange(other.status, 0)),
      data(std::move(other.data)) {}

packet& packet::operator=(const packet& other) {
    if (this != &other) {
        packet copy(other);
        *this = std::move(copy);
    }
    return *this;
}

packet::~packet() {
    util::wipe(data);
}

packet& packet::operator=(packet&& other) noexcept {
    if (this != &other) {
        util::wipe(data);
        header = std::exchange(other.header, 0);
        metadata = std::exchange(other.metadata, 0);
        status = std::exchange(other.status, 0);
        data = std::move(other.data);
    }
    return *this;
}

std::vector<unsigned char> serialize_words(std::uint32_t header, std::uint32_t metadata,
                                           std::uint32_t status) {
    std::vector<unsigned char> out(kShortSize);
    put_word(out.data(), header);
    put_word(out.data() + 4, metadata);
    put_word(out.data() + 8, status);
    put_checksum(out, 12);
    return out;
}

std::vector<unsigned char> serialize_words(std::uint32_t header, std::uint32_t metadata,
                                           std::uint32_t status,
                                           const std::vector<unsigned char>& data) {
    // The length word cannot describe a longer payload; a cut length would make a packet
    // that decodes to something else.
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("packet payload longer than 4 GiB");
    }
    std::vector<unsigned char> out(kLongHeaderSize + data.size() + kWordSize);
    put_word(out.data(), header);
    put_word(out.data() + 4, metadata);
    put_word(out.data() + 8, status);
    put_word(out.data() + 12, static_cast<std::uint32_t>(data.size()));
    if (!data.empty()) {
        std::memcpy(out.data() + kLongHeaderSize, data.data(), data.size());
    }
    put_checksum(out, kLongHeaderSize + data.size());
    return out;
}

bool corrupted(const unsigned char* data, std::size_t length) noexcept {
    if (data == nullptr) {
        return true;
    }
    return get_word(data + length) != crc32(data, length, 0, kCrc32Prefetch);
}

packet deserialize(const std::vector<unsigned char>& input, std::error_code& ec) {
    if (input.size() < kShortSize) {
        ec = transfer_error::bad_data_format;
        return {};
    }
    const unsigned char* p = input.data();
    std::size_t covered = 12;
    std::size_t payload = 0;
    if (input.size() > kShortSize) {
        // A peer controls n: check it against what arrived before reading the checksum,
        // so that nothing past the received bytes is ever read.
        if (input.size() < kLongHeaderSize + kWordSize) {
            ec = transfer_error::bad_data_format;
            return {};
        }
        payload = get_word(p + 12);
        if (payload > input.size() - kLongHeaderSize - kWordSize) {
            ec = transfer_error::bad_data_format;
            return {};
        }
        covered = kLongHeaderSize + payload;
    }
    if (corrupted(p, covered)) {
        ec = transfer_error::data_corrupted;
        return {};
    }
    ec.clear();
    packet result(get_word(p), get_word(p + 4), get_word(p + 8));
    if (input.size() > kShortSize) {
        result.data.assign(p + kLongHeaderSize, p + kLongHeaderSize + payload);
    }
    return result;
}
