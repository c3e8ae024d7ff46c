#include "database/serializer.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

#include "system/wipe.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kItemHeaderSize = 4;

void put_le(std::vector<unsigned char>& out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

std::uint64_t get_le(const unsigned char* in, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    }
    return value;
}

// Walks the item length fields of a body of body_size bytes; returns the number of items,
// or no value when a length field is cut short or an item runs past the body.
bool count_items(const unsigned char* body, std::uint64_t body_size, std::size_t& count) {
    count = 0;
    std::uint64_t consumed = 0;
    while (consumed < body_size) {
        if (body_size - consumed < kItemHeaderSize) {
            return false;
        }
        const std::uint64_t length = get_le(body + consumed, kItemHeaderSize);
        if (length > body_size - consumed - kItemHeaderSize) {
            return false;
        }
        consumed += kItemHeaderSize + length;
        ++count;
    }
    return true;
}

}  // namespace

Serializer& Serializer::operator=(const Serializer& other) {
    if (this != &other) {
        Serializer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Serializer& Serializer::operator=(Serializer&& other) noexcept {
    if (this != &other) {
        clear();
        m_items = std::move(other.m_items);
        m_head = std::exchange(other.m_head, 0);
        other.m_items.clear();
    }
    return *this;
}

Serializer::~Serializer() {
    wipe_items();
}

void Serializer::wipe_items() noexcept {
    for (auto& item : m_items) {
        util::wipe(item);
    }
}

void Serializer::push_back(const bytes& item) {
    m_items.push_back(item);
}

void Serializer::push_back(bytes&& item) {
    m_items.push_back(std::move(item));
}

void Serializer::assign(const bytes& item) {
    clear();
    m_items.push_back(item);
}

void Serializer::assign(bytes&& item) {
    clear();
    m_items.push_back(std::move(item));
}

void Serializer::clear() noexcept {
    wipe_items();
    m_items.clear();
    m_head = 0;
}

Serializer::bytes Serializer::pop_front() {
    if (empty()) {
        return {};
    }
    bytes item = std::move(m_items[m_head]);
    ++m_head;
    if (m_head == m_items.size()) {
        clear();
    } else if (m_head >= 64 && m_head * 2 >= m_items.size()) {
        // Used as a queue that never runs empty, the taken slots are dropped now and then
        // so that the list does not grow without bound.
        m_items.erase(m_items.begin(), m_items.begin() + difference(m_head));
        m_head = 0;
    }
    return item;
}

Serializer::bytes Serializer::pop_back() {
    if (empty()) {
        return {};
    }
    bytes item = std::move(m_items.back());
    m_items.pop_back();
    if (m_head == m_items.size()) {
        clear();
    }
    return item;
}

Serializer::bytes Serializer::serialize() const {
    std::uint64_t body = 0;
    for (const auto& item : *this) {
        // A longer item cannot be described by its 32-bit length field; a truncated
        // length would make a frame that silently decodes to different items.
        if (item.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("Serializer: item longer than 4 GiB");
        }
        body += kItemHeaderSize + item.size();
    }
    bytes out;
    out.reserve(static_cast<std::size_t>(body) + kHeaderSize);
    put_le(out, body, kHeaderSize);
    for (const auto& item : *this) {
        put_le(out, item.size(), kItemHeaderSize);
        out.insert(out.end(), item.begin(), item.end());
    }
    return out;
}

void Serializer::deserialize(const bytes& frame) {
    // Twelve bytes hold at most a header and one empty item; such input is not decoded
    // and the items stay as they were, which callers rely on.
    if (frame.size() <= kHeaderSize + kItemHeaderSize) {
        return;
    }
    clear();
    const std::uint64_t body_size = get_le(frame.data(), kHeaderSize);
    if (body_size > frame.size() - kHeaderSize) {
        return;
    }
    // The length fields are checked before any item is copied, so a bad frame costs no
    // allocation and a good one gets its item list allocated once.
    const unsigned char* const body = frame.data() + kHeaderSize;
    std::size_t count = 0;
    if (!count_items(body, body_size, count)) {
        return;
    }
    m_items.reserve(count);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto length = static_cast<std::size_t>(get_le(body + offset, kItemHeaderSize));
        const unsigned char* item = body + offset + kItemHeaderSize;
        m_items.emplace_back(item, item + length);
        offset += kItemHeaderSize + length;
    }
}
