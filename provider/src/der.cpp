#include "der.h"

#include "failure.h"

namespace ztcrypto_detail::der {

Bytes element(std::uint8_t tag, const std::uint8_t* content, std::size_t size) {
    Bytes out;
    out.reserve(size + 6);
    out.push_back(tag);
    if (size < 0x80) {
        out.push_back(static_cast<std::uint8_t>(size));
    } else {
        Bytes length;
        for (std::size_t s = size; s != 0; s >>= 8) {
            length.insert(length.begin(), static_cast<std::uint8_t>(s & 0xFF));
        }
        out.push_back(static_cast<std::uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    if (size != 0) {
        out.insert(out.end(), content, content + size);
    }
    return out;
}

Bytes integer(std::uint64_t value) {
    Bytes content;
    do {
        content.insert(content.begin(), static_cast<std::uint8_t>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    // A set high bit would read as negative: DER then needs a leading zero byte.
    if ((content.front() & 0x80) != 0) {
        content.insert(content.begin(), 0x00);
    }
    return element(kInteger, content.data(), content.size());
}

Bytes octet_string(const std::uint8_t* content, std::size_t size) {
    return element(kOctetString, content, size);
}

Bytes oid(const Bytes& encoded) {
    return element(kOid, encoded.data(), encoded.size());
}

Bytes sequence(std::initializer_list<Bytes> parts) {
    Bytes content;
    for (const Bytes& part : parts) {
        content.insert(content.end(), part.begin(), part.end());
    }
    return element(kSequence, content.data(), content.size());
}

Reader Reader::enter(std::uint8_t tag) {
    if (end_ - pos_ < 2) {
        malformed("element missing");
    }
    if (pos_[0] != tag) {
        malformed("unexpected element");
    }
    const std::uint8_t first = pos_[1];
    const std::uint8_t* p = pos_ + 2;
    std::size_t length = 0;
    if (first < 0x80) {
        length = first;
    } else {
        const std::size_t count = first & 0x7F;
        // 0x80 is the indefinite form, which DER forbids; no container needs 4 GiB.
        if (count == 0 || count > 4) {
            malformed("unsupported length form");
        }
        if (static_cast<std::size_t>(end_ - p) < count) {
            malformed("truncated length");
        }
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | p[i];
        }
        p += count;
        // DER's lengths are minimal: the long form only from 128 on, no leading zero byte.
        if (length < 0x80 || (length >> (8 * (count - 1))) == 0) {
            malformed("length not minimally encoded");
        }
    }
    if (static_cast<std::size_t>(end_ - p) < length) {
        malformed("element reaches past its end");
    }
    pos_ = p + length;
    return Reader(p, p + length, method_);
}

Bytes Reader::content(std::uint8_t tag) {
    Reader inner = enter(tag);
    return Bytes(inner.pos_, inner.end_);
}

Bytes Reader::octets(std::size_t size) {
    Bytes bytes = content(kOctetString);
    if (bytes.size() != size) {
        malformed("octet string of a wrong length");
    }
    return bytes;
}

std::uint64_t Reader::integer() {
    const Bytes bytes = content(kInteger);
    if (bytes.empty()) {
        malformed("empty integer");
    }
    if ((bytes[0] & 0x80) != 0) {
        malformed("negative integer");
    }
    if (bytes.size() > 1 && bytes[0] == 0 && (bytes[1] & 0x80) == 0) {
        malformed("integer not minimally encoded");
    }
    const std::size_t significant = bytes[0] == 0 ? bytes.size() - 1 : bytes.size();
    if (significant > 8) {
        malformed("integer too large");
    }
    std::uint64_t value = 0;
    for (std::uint8_t b : bytes) {
        value = (value << 8) | b;
    }
    return value;
}

void Reader::expect_integer(std::uint64_t value) {
    if (integer() != value) {
        malformed("unexpected integer value");
    }
}

void Reader::expect_oid(const Bytes& encoded) {
    if (content(kOid) != encoded) {
        malformed("unexpected object identifier");
    }
}

void Reader::expect_end() const {
    if (pos_ != end_) {
        malformed("unexpected trailing data");
    }
}

void Reader::malformed(const std::string& what) const {
    fail(method_, Exception::malformed_data, "malformed DER: " + what);
}

}  // namespace ztcrypto_detail::der
