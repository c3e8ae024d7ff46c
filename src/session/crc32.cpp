#include "session/crc32.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

using table_set = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Table 0 is the ordinary byte table; table k advances a byte's contribution by k more
// zero bytes, which lets sixteen bytes be folded into the register with sixteen lookups.
constexpr table_set make_tables() {
    table_set t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        }
        t[0][i] = c;
    }
    for (std::size_t k = 1; k < 16; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
        }
    }
    return t;
}

// Constant data, fixed at compile time: nothing to initialise at start-up and safe to use
// from any thread.
constexpr table_set kTables = make_tables();

static_assert(kTables[0][1] == 0x77073096u && kTables[0][255] == 0x2D02EF8Du);

constexpr std::size_t kSlice = 16;
constexpr std::size_t kBlock = 64;
// The fast loop runs only while the read-ahead address stays inside the input.
constexpr std::size_t kFastThreshold = 256 + kBlock;

inline std::uint32_t load_le32(const unsigned char* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

// Folds 16 bytes at p into crc.
inline std::uint32_t fold16(std::uint32_t crc, const unsigned char* p) noexcept {
    const std::uint32_t w0 = load_le32(p) ^ crc;
    const std::uint32_t w1 = load_le32(p + 4);
    const std::uint32_t w2 = load_le32(p + 8);
    const std::uint32_t w3 = load_le32(p + 12);
    return kTables[15][w0 & 0xFFu] ^ kTables[14][(w0 >> 8) & 0xFFu] ^
           kTables[13][(w0 >> 16) & 0xFFu] ^ kTables[12][w0 >> 24] ^ kTables[11][w1 & 0xFFu] ^
           kTables[10][(w1 >> 8) & 0xFFu] ^ kTables[9][(w1 >> 16) & 0xFFu] ^ kTables[8][w1 >> 24] ^
           kTables[7][w2 & 0xFFu] ^ kTables[6][(w2 >> 8) & 0xFFu] ^ kTables[5][(w2 >> 16) & 0xFFu] ^
           kTables[4][w2 >> 24] ^ kTables[3][w3 & 0xFFu] ^ kTables[2][(w3 >> 8) & 0xFFu] ^
           kTables[1][(w3 >> 16) & 0xFFu] ^ kTables[0][w3 >> 24];
}

}  // namespace

std::uint32_t crc32(const void* data, std::size_t length, std::uint32_t previous,
                    std::size_t prefetch) noexcept {
    std::uint32_t crc = ~previous;
    const auto* p = static_cast<const unsigned char*>(data);
    while (length >= kFastThreshold) {
        if (prefetch < length) {
            __builtin_prefetch(p + prefetch);
        }
        crc = fold16(crc, p);
        crc = fold16(crc, p + 16);
        crc = fold16(crc, p + 32);
        crc = fold16(crc, p + 48);
        p += kBlock;
        length -= kBlock;
    }
    // Short packets are the common case: fold whole slices before the last few bytes.
    while (length >= kSlice) {
        crc = fold16(crc, p);
        p += kSlice;
        length -= kSlice;
    }
    while (length-- > 0) {
        crc = (crc >> 8) ^ kTables[0][(crc ^ *p++) & 0xFFu];
    }
    return ~crc;
}
