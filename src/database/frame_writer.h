#pragma once

#include <cstddef>
#include <vector>

// Writes a frame of the one framing (see Serializer) straight into one buffer: items are
// appended as they come, and an item may itself be a frame written in place between
// begin_frame() and end_frame(). A reply of nested lists is then built without a copy of the
// whole per level; the bytes are exactly those Serializer::serialize() gives. A reply may
// carry key material: storage the buffer leaves when it grows is wiped first, and so is a
// writer that is dropped unfinished.
class frame_writer {
  public:
    using bytes = std::vector<unsigned char>;

    // Starts the outer frame.
    frame_writer();
    ~frame_writer();
    frame_writer(const frame_writer&) = delete;
    frame_writer& operator=(const frame_writer&) = delete;

    // Makes room for size bytes in all, so that the buffer does not move while it is written.
    void reserve(std::size_t size);
    // Appends one item.
    void add(const bytes& item);
    // Starts an item that is a frame of its own; its items follow until end_frame().
    void begin_frame();
    // Closes the innermost frame begun; throws std::logic_error when none is open.
    void end_frame();
    // Closes the outer frame and gives it out; throws std::logic_error while an inner frame
    // is open, std::length_error when an item outgrows its 32-bit length field.
    bytes finish() &&;

  private:
    // Room for at least extra more bytes, moving the content to a larger buffer if needed.
    void make_room(std::size_t extra);

    bytes m_out;
    std::vector<std::size_t> m_open;  // where the length fields of the open frames begin
};
