#include "database/frame_view.h"

#include <cstdint>
#include <limits>

namespace db {

namespace {

constexpr std::size_t kHeaderSize = frame_header_size;
constexpr std::size_t kLengthSize = item_length_size;

std::uint64_t read_le(const unsigned char* at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | at[i];
    }
    return value;
}

void write_le(unsigned char* at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

}  // namespace

std::vector<std::span<const unsigned char>> frame_items(std::span<const unsigned char> frame) {
    std::vector<std::span<const unsigned char>> items;
    if (frame.size() <= kHeaderSize + kLengthSize) {
        return items;
    }
    const std::uint64_t body_size = read_le(frame.data(), kHeaderSize);
    if (body_size > frame.size() - kHeaderSize) {
        return items;
    }
    const unsigned char* body = frame.data() + kHeaderSize;
    std::uint64_t consumed = 0;
    while (consumed < body_size) {
        if (body_size - consumed < kLengthSize) {
            return {};
        }
        const std::uint64_t length = read_le(body + consumed, kLengthSize);
        if (length > body_size - consumed - kLengthSize) {
            return {};
        }
        items.emplace_back(body + consumed + kLengthSize, static_cast<std::size_t>(length));
        consumed += kLengthSize + length;
    }
    return items;
}

frame_writer::frame_writer(std::vector<unsigned char>& out) : m_out(out), m_start(out.size()) {
    m_out.resize(m_out.size() + kHeaderSize);
}

void frame_writer::item(std::span<const unsigned char> data) {
    const std::size_t mark = begin_item();
    m_out.insert(m_out.end(), data.begin(), data.end());
    end_item(mark);
}

std::size_t frame_writer::begin_item() {
    const std::size_t mark = m_out.size();
    m_out.resize(mark + kLengthSize);
    return mark;
}

void frame_writer::end_item(std::size_t mark) {
    const std::uint64_t length = m_out.size() - mark - kLengthSize;
    if (length > std::numeric_limits<std::uint32_t>::max()) {
        m_fits = false;
    }
    write_le(m_out.data() + mark, length, kLengthSize);
}

bool frame_writer::finish() {
    write_le(m_out.data() + m_start, m_out.size() - m_start - kHeaderSize, kHeaderSize);
    return m_fits;
}

}  // namespace db
