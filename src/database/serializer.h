#pragma once

#include <cstddef>
#include <vector>

// Abstract record that turns itself into a frame and back. Records that take part in
// virtual dispatch (the database entries, the framing itself) derive from it.
class Serialized {
  public:
    virtual ~Serialized() = default;

    // Returns the record encoded as one complete frame.
    virtual std::vector<unsigned char> serialize() const = 0;
    // Replaces the record's fields from a frame; never fails, missing fields become empty.
    virtual void deserialize(const std::vector<unsigned char>& frame) = 0;

  protected:
    Serialized() = default;
    Serialized(const Serialized&) = default;
    Serialized(Serialized&&) = default;
    Serialized& operator=(const Serialized&) = default;
    Serialized& operator=(Serialized&&) = default;
};

// The one framing of every payload and of the database file: an ordered list of opaque
// byte strings ("items"), written as a 64-bit little-endian body length followed by each
// item as a 32-bit little-endian length and its bytes. Items carry no type tags; a record
// is a fixed order of items. Frames carry keys, tokens and passwords, so the items' bytes
// are wiped before their memory goes back: when the Serializer is cleared, assigned to or
// destroyed. An item taken out with pop_front/pop_back is the caller's to wipe.
class Serializer : public Serialized {
  public:
    using bytes = std::vector<unsigned char>;
    using const_iterator = std::vector<bytes>::const_iterator;

    Serializer() = default;
    Serializer(const Serializer&) = default;
    Serializer(Serializer&&) noexcept = default;
    Serializer& operator=(const Serializer& other);
    Serializer& operator=(Serializer&& other) noexcept;
    ~Serializer() override;

    // Appends an item (which may be empty).
    void push_back(const bytes& item);
    void push_back(bytes&& item);
    // Removes every item, then appends this one.
    void assign(const bytes& item);
    void assign(bytes&& item);
    // Removes and returns the first / last item; an empty Serializer gives an empty vector
    // and stays unchanged, so decoders read missing trailing fields as empty.
    bytes pop_front();
    bytes pop_back();

    // The item at index; the caller keeps index below size().
    const bytes& operator[](std::size_t index) const { return m_items[m_head + index]; }
    bytes& operator[](std::size_t index) { return m_items[m_head + index]; }

    std::size_t size() const noexcept { return m_items.size() - m_head; }
    bool empty() const noexcept { return size() == 0; }
    // Wipes and removes every item.
    void clear() noexcept;
    const_iterator begin() const noexcept { return m_items.begin() + difference(m_head); }
    const_iterator end() const noexcept { return m_items.end(); }

    // Returns the frame of the current items; the items stay in place.
    bytes serialize() const override;
    // Decodes a frame into the item list. Input of 12 bytes or fewer leaves the items as
    // they were; a header or item length that runs past the input leaves no items; bytes
    // after the declared body are ignored (the database file pads its frame with zeros).
    void deserialize(const bytes& frame) override;

  private:
    static std::ptrdiff_t difference(std::size_t n) noexcept {
        return static_cast<std::ptrdiff_t>(n);
    }
    // Overwrites every item still held (taken slots are empty) with zeros.
    void wipe_items() noexcept;

    // Items live in m_items[m_head..]; taking from the front only advances m_head, so a
    // record decoder that pops every field does not shift the remaining items each time.
    std::vector<bytes> m_items;
    std::size_t m_head = 0;
};
