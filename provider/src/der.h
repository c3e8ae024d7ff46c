#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ztcrypto_detail::der {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kInteger = 0x02;
constexpr std::uint8_t kOctetString = 0x04;
constexpr std::uint8_t kOid = 0x06;
constexpr std::uint8_t kGeneralizedTime = 0x18;
constexpr std::uint8_t kSequence = 0x30;

// Encoders: one complete element (tag, minimal length, content) each.
Bytes element(std::uint8_t tag, const std::uint8_t* content, std::size_t size);
Bytes integer(std::uint64_t value);
Bytes octet_string(const std::uint8_t* content, std::size_t size);
// `encoded` is the OID's content octets.
Bytes oid(const Bytes& encoded);
Bytes sequence(std::initializer_list<Bytes> parts);

// A strict reader of DER elements inside [begin, end): definite minimal lengths only, no
// element reaching past the end. Every violation throws Exception (malformed_data) for
// the method given at construction.
class Reader {
  public:
    Reader(const std::uint8_t* begin, const std::uint8_t* end, const char* method)
        : pos_(begin), end_(end), method_(method) {}

    // Enters the next element, which must have `tag`, and returns a reader over its content;
    // this reader moves past it.
    Reader enter(std::uint8_t tag);
    // The content of the next element, which must have `tag`; this reader moves past it.
    Bytes content(std::uint8_t tag);
    // The next OCTET STRING, which must be exactly `size` bytes long.
    Bytes octets(std::size_t size);
    // The next INTEGER as a non-negative number of at most 8 bytes.
    std::uint64_t integer();
    // The next INTEGER, which must equal `value`.
    void expect_integer(std::uint64_t value);
    // The next OBJECT IDENTIFIER, which must have the content octets `encoded`.
    void expect_oid(const Bytes& encoded);
    // Throws unless every byte was read.
    void expect_end() const;
    // Where the reader stands.
    const std::uint8_t* position() const { return pos_; }

  private:
    [[noreturn]] void malformed(const std::string& what) const;

    const std::uint8_t* pos_;
    const std::uint8_t* end_;
    const char* method_;
};

}  // namespace ztcrypto_detail::der
