#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace db {

// The items of a frame read in place, without copying them: for the large frames of the
// database file, where copying every item (as Serializer::deserialize does) would double
// the memory a load needs. Accepts exactly what Serializer::deserialize accepts: input of
// 12 bytes or fewer, a body length past the input, or an item running past the body give
// no items at all; bytes after the body are ignored.
std::vector<std::span<const unsigned char>> frame_items(std::span<const unsigned char> frame);

// Takes the items of a frame front to back the way record decoders take them from a
// Serializer with pop_front(): an item past the last reads as empty.
class item_reader {
  public:
    explicit item_reader(std::span<const unsigned char> frame) : m_items(frame_items(frame)) {}

    // True when the frame had no items at all.
    bool empty() const noexcept { return m_items.empty(); }
    std::span<const unsigned char> next_view() noexcept {
        return m_next < m_items.size() ? m_items[m_next++] : std::span<const unsigned char>{};
    }
    std::vector<unsigned char> next() {
        const auto item = next_view();
        return {item.begin(), item.end()};
    }
    std::string next_string() {
        const auto item = next_view();
        return {item.begin(), item.end()};
    }

  private:
    std::vector<std::span<const unsigned char>> m_items;
    std::size_t m_next = 0;
};

// Bytes of a frame's header (the body length) and of each item's length field.
inline constexpr std::size_t frame_header_size = 8;
inline constexpr std::size_t item_length_size = 4;

// Bytes a frame takes whose items have these lengths: what frame_writer writes for them, so
// that a buffer can be sized before it is filled.
constexpr std::size_t frame_size(std::initializer_list<std::size_t> item_sizes) {
    std::size_t size = frame_header_size;
    for (const std::size_t item : item_sizes) {
        size += item_length_size + item;
    }
    return size;
}

// Appends a frame to a buffer in place, items written straight behind each other: the
// layout of Serializer::serialize without building an item list first. An item may itself
// be a frame, written between begin_item() and end_item().
class frame_writer {
  public:
    // Starts a frame at the end of out.
    explicit frame_writer(std::vector<unsigned char>& out);

    void item(std::span<const unsigned char> data);
    void item(const std::string& text) {
        item(std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
    }
    template <typename T>
    requires std::is_integral_v<T>
    void integer(T value) {
        unsigned char raw[sizeof(T)];
        using U =
            std::make_unsigned_t<std::conditional_t<std::is_same_v<T, bool>, unsigned char, T>>;
        auto bits = static_cast<U>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            raw[i] = static_cast<unsigned char>(bits & 0xFFu);
            bits = static_cast<U>(bits >> 4 >> 4);
        }
        item(raw);
    }
    // Opens an item whose bytes the caller appends to the buffer itself; returns the mark
    // that end_item() takes.
    std::size_t begin_item();
    void end_item(std::size_t mark);
    // Writes the body length into the header. False when an item or the frame outgrew its
    // length field; the frame is then not valid.
    bool finish();

  private:
    std::vector<unsigned char>& m_out;
    std::size_t m_start;
    bool m_fits = true;
};

}  // namespace db
