// Splits one fuzz input into the several values a target needs, and writes such inputs for
// the seed generator. A field that runs past the end of the input takes what is left (zero
// for the missing bytes of a word), so every input means something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

using bytes = std::vector<unsigned char>;

// Stops the run when an invariant of the code under test does not hold.
inline void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

class input_reader {
  public:
    input_reader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool empty() const noexcept { return m_offset >= m_size; }

    std::uint8_t byte() noexcept { return empty() ? 0 : m_data[m_offset++]; }

    // Four bytes, least significant first.
    std::uint32_t word() noexcept {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            value |= std::uint32_t{byte()} << shift;
        }
        return value;
    }

    // A 16-bit little-endian length, then that many bytes.
    bytes chunk() {
        std::size_t length = byte();
        length |= std::size_t{byte()} << 8;
        return take(length);
    }
    std::string text() {
        const bytes raw = chunk();
        return std::string(raw.begin(), raw.end());
    }

    // Everything not read yet.
    bytes rest() { return take(m_size - m_offset); }
    std::string rest_text() {
        const bytes raw = rest();
        return std::string(raw.begin(), raw.end());
    }

  private:
    bytes take(std::size_t length) {
        const std::size_t left = empty() ? 0 : m_size - m_offset;
        const std::size_t n = length < left ? length : left;
        bytes out(m_data + m_offset, m_data + m_offset + n);
        m_offset += n;
        return out;
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_offset = 0;
};

// The writing side of input_reader.
class input_writer {
  public:
    input_writer& byte(std::uint8_t value) {
        m_out.push_back(value);
        return *this;
    }
    input_writer& word(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            m_out.push_back(static_cast<unsigned char>(value >> shift));
        }
        return *this;
    }
    input_writer& chunk(const bytes& data) {
        byte(static_cast<std::uint8_t>(data.size()));
        byte(static_cast<std::uint8_t>(data.size() >> 8));
        return raw(data);
    }
    input_writer& chunk(const std::string& text) { return chunk(bytes(text.begin(), text.end())); }
    input_writer& raw(const bytes& data) {
        m_out.insert(m_out.end(), data.begin(), data.end());
        return *this;
    }
    input_writer& raw(const std::string& text) { return raw(bytes(text.begin(), text.end())); }

    const bytes& get() const noexcept { return m_out; }

  private:
    bytes m_out;
};

}  // namespace fuzz
