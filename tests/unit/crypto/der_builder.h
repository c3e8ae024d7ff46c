#pragma once

// Builds DER key containers element by element, so walk tests can place any byte where they
// need it without a provider.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace der {

using bytes = std::vector<std::uint8_t>;

// One element: tag, minimal DER length, content.
inline bytes tlv(std::uint8_t tag, const bytes& content) {
    bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        bytes length;
        for (std::size_t v = n; v != 0; v >>= 8) {
            length.insert(length.begin(), static_cast<std::uint8_t>(v));
        }
        out.push_back(static_cast<std::uint8_t>(0x80 + length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline bytes seq(std::initializer_list<bytes> items) {
    bytes content;
    for (const auto& item : items) {
        content.insert(content.end(), item.begin(), item.end());
    }
    return tlv(0x30, content);
}

// A minimal DER INTEGER of a non-negative value.
inline bytes integer(std::uint64_t value) {
    bytes content;
    do {
        content.insert(content.begin(), static_cast<std::uint8_t>(value));
        value >>= 8;
    } while (value != 0);
    if (content.front() & 0x80) {
        content.insert(content.begin(), 0x00);
    }
    return tlv(0x02, content);
}

inline bytes oid(const bytes& encoded) {
    return tlv(0x06, encoded);
}
inline bytes octets(std::size_t n, std::uint8_t fill) {
    return tlv(0x04, bytes(n, fill));
}
inline bytes gtime(const std::string& text) {
    return tlv(0x18, bytes(text.begin(), text.end()));
}

inline const bytes kX25519{0x2B, 0x65, 0x6E};
inline const bytes kAesCbc{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A};
inline const bytes kAesGcm{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2E};
inline const bytes kSha256{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
inline const bytes kPbkdf2{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x05, 0x0C};
inline const bytes kHmacSha256{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x09};

// The key-agreement key element of a container; key bytes are filler.
inline bytes key_agreement_key() {
    return seq({
        integer(1),
        seq({oid(kX25519), integer(1)}),
        integer(0x1234),
        seq({integer(16), oid(kAesGcm), integer(12), octets(12, 0xA1), integer(256)}),
        seq({oid(kX25519), integer(256), integer(1), oid(kSha256)}),
        integer(48),
        octets(48, 0xB2),
        octets(32, 0xC3),
    });
}

// The asymmetric key element of a container; key bytes are filler.
inline bytes asymmetric_key() {
    return seq({
        integer(1),
        seq({oid(kX25519), integer(2)}),
        integer(0x5678),
        octets(60, 0xD4),
        seq({integer(256), oid(kX25519)}),
    });
}

// A key container in the provider's layout with the given creation time text; the key bytes
// are filler, which the walk never looks at.
inline bytes key_container(const std::string& created, std::uint64_t iterations = 1000) {
    return seq({
        integer(1),
        seq({oid(kX25519), oid(kX25519), oid(kAesCbc), oid(kSha256)}),
        seq({oid(kPbkdf2), integer(iterations), integer(32), seq({oid(kHmacSha256)})}),
        key_agreement_key(),
        asymmetric_key(),
        seq({integer(1), seq({gtime(created)})}),
        octets(32, 0xE5),
        octets(16, 0xF6),
    });
}

}  // namespace der
