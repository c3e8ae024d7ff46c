#pragma once

#include <uuid/uuid.h>

#include <string>
#include <vector>

// A 16-byte UUID in libuuid's layout. The default value is null (all zero bytes).
class Uuid {
  public:
    Uuid() noexcept;
    // Takes the first 16 bytes of raw; a vector shorter than 16 bytes gives the null UUID
    // (it is never read past its end).
    explicit Uuid(const std::vector<unsigned char>& raw) noexcept;
    Uuid& operator=(const std::vector<unsigned char>& raw) noexcept;

    Uuid(const Uuid& other) noexcept;
    Uuid& operator=(const Uuid& other) noexcept;
    // A moved-from UUID becomes null.
    Uuid(Uuid&& other) noexcept;
    Uuid& operator=(Uuid&& other) noexcept;

    // Replaces the value by a new random UUID.
    void generate() noexcept;
    // Reads the 36-character text form (either case); on failure returns false and keeps
    // the previous value.
    bool parse(const std::string& text) noexcept;

    // The 36-character text in lower case / upper case.
    std::string str() const;
    std::string upper() const;
    // The 16 raw bytes.
    std::vector<unsigned char> get() const;

    bool is_null() const noexcept;
    // Makes the value null.
    void clear() noexcept;

    bool operator==(const Uuid& other) const noexcept;
    bool operator!=(const Uuid& other) const noexcept;

  private:
    uuid_t m_value;
};
