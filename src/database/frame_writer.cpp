#include "database/frame_writer.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "system/wipe.h"

namespace {

constexpr std::size_t kHeaderSize = 8;      // the frame's body length
constexpr std::size_t kItemHeaderSize = 4;  // each item's length

void put_le(unsigned char* out, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        out[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void check_item_size(std::uint64_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("frame_writer: item longer than 4 GiB");
    }
}

}  // namespace

frame_writer::frame_writer() : m_out(kHeaderSize) {}

frame_writer::~frame_writer() {
    util::wipe(m_out);
}

void frame_writer::reserve(std::size_t size) {
    if (size > m_out.size()) {
        make_room(size - m_out.size());
    }
}

void frame_writer::make_room(std::size_t extra) {
    if (m_out.capacity() - m_out.size() >= extra) {
        return;
    }
    bytes bigger;
    bigger.reserve(std::max(m_out.size() + extra, 2 * m_out.capacity()));
    bigger.assign(m_out.begin(), m_out.end());
    util::wipe(m_out);
    m_out.swap(bigger);
}

void frame_writer::add(const bytes& item) {
    check_item_size(item.size());
    make_room(kItemHeaderSize + item.size());
    const std::size_t at = m_out.size();
    m_out.resize(at + kItemHeaderSize);
    put_le(m_out.data() + at, item.size(), kItemHeaderSize);
    m_out.insert(m_out.end(), item.begin(), item.end());
}

void frame_writer::begin_frame() {
    // The item's length and the inner frame's header, both filled in by end_frame().
    make_room(kItemHeaderSize + kHeaderSize);
    m_open.push_back(m_out.size());
    m_out.resize(m_out.size() + kItemHeaderSize + kHeaderSize);
}

void frame_writer::end_frame() {
    if (m_open.empty()) {
        throw std::logic_error("frame_writer: no frame to end");
    }
    const std::size_t at = m_open.back();
    m_open.pop_back();
    const std::size_t item = m_out.size() - at - kItemHeaderSize;
    check_item_size(item);
    put_le(m_out.data() + at, item, kItemHeaderSize);
    put_le(m_out.data() + at + kItemHeaderSize, item - kHeaderSize, kHeaderSize);
}

frame_writer::bytes frame_writer::finish() && {
    if (!m_open.empty()) {
        throw std::logic_error("frame_writer: a frame is still open");
    }
    put_le(m_out.data(), m_out.size() - kHeaderSize, kHeaderSize);
    return std::move(m_out);
}
