#include "session/packet.h"

#include <gtest/gtest.h>
#include <sys/random.h>
#include <zlib.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "../database/freed_memory.h"
#include "session/transfer_error.h"

namespace {

using bytes = std::vector<unsigned char>;

// Little-endian words followed by payload, as a flat packet lays them out before its trailer.
bytes words(std::initializer_list<std::uint32_t> values, const bytes& payload = {}) {
    bytes out;
    for (auto v : values) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        }
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Appends zlib's CRC-32 of everything so far, as the trailer of a flat packet.
bytes seal(bytes out) {
    const bytes crc =
        words({static_cast<std::uint32_t>(::crc32(0L, out.data(), static_cast<uInt>(out.size())))});
    out.insert(out.end(), crc.begin(), crc.end());
    return out;
}

TEST(PacketSerialize, IsByteExactInShortAndLongForms) {
    const bytes abc = {'a', 'b', 'c'};
    const bytes big(300, 0xA5);
    const std::pair<bytes, bytes> cases[] = {
        {serialize(64, 64, 1), seal(words({64, 64, 1}))},
        {serialize(transfer_protocol_header::close_secure, transfer_protocol_phase::acknowledge,
                   1u),
         seal(words({64, 64, 1}))},
        {serialize(1, 4), seal(words({1, 4, 4}))},
        // Without a status the long form carries 4.
        {serialize(1, 128, abc), seal(words({1, 128, 4, 3}, abc))},
        {serialize(256, 8, 2, big), seal(words({256, 8, 2, 300}, big))},
        // An empty payload still takes the long form: 20 bytes.
        {serialize(1, 128, bytes{}), seal(words({1, 128, 4, 0}))},
    };
    for (const auto& [flat, expected] : cases) {
        EXPECT_EQ(flat, expected);
    }
}

bytes flipped(bytes flat, std::size_t index, unsigned char mask = 0x01) {
    flat[index] ^= mask;
    return flat;
}

bytes resized(bytes flat, std::size_t size) {
    flat.resize(size);
    return flat;
}

TEST(PacketDeserialize, RoundTripsAndClearsError) {
    const std::tuple<bytes, std::uint32_t, std::uint32_t, std::uint32_t, bytes> cases[] = {
        {serialize(7, 5, 1), 7, 5, 1, {}},
        {serialize(1, 16, 9, bytes{0, 1, 2, 0xFF, 0}), 1, 16, 9, {0, 1, 2, 0xFF, 0}},
        // Twenty bytes with n = 0 are a long form, not a short form with trailing bytes.
        {serialize(2, 128, 3, bytes{}), 2, 128, 3, {}},
        // All-zero words decode, though the packet counts as nothing.
        {serialize(0, 0, 0, bytes{'z'}), 0, 0, 0, {'z'}},
        // The cipher's block padding after the checksum is not part of the packet.
        {resized(serialize(1, 128, bytes{'x', 'y'}), 33), 1, 128, 4, {'x', 'y'}},
    };
    for (const auto& [flat, header, metadata, status, data] : cases) {
        std::error_code ec = transfer_error::data_corrupted;
        const packet p = deserialize(flat, ec);
        EXPECT_FALSE(ec);
        EXPECT_EQ(std::tie(p.header, p.metadata, p.status), std::tie(header, metadata, status));
        EXPECT_EQ(p.data, data);
        EXPECT_EQ(static_cast<bool>(p), header != 0);
    }
}

// Inputs that fail to decode give an all-zero packet and the reason.
TEST(PacketDeserialize, RejectsMalformedInput) {
    constexpr auto kFormat = transfer_error::bad_data_format;
    constexpr auto kCorrupted = transfer_error::data_corrupted;
    const std::pair<bytes, transfer_error> cases[] = {
        {{}, kFormat},
        {bytes(15, 1), kFormat},
        {flipped(serialize(1, 4, 1), 12), kCorrupted},  // wrong checksum
        {flipped(serialize(1, 128, bytes(40, 7)), 30), kCorrupted},
        // n shrinks from 40 to 32: still inside the input, so the checksum decides.
        {flipped(serialize(1, 128, bytes(40, 7)), 12, 0x08), kCorrupted},
        {resized(serialize(1, 128, bytes{}), 19), kFormat},
        // Declared lengths beyond the input: the checksum would lie past its end.
        {resized(serialize(1, 128, bytes(8, 1)), 27), kFormat},   // by one byte
        {words({1, 128, 4, 0xFFFFFFF0u}, bytes(4, 0)), kFormat},  // near the wrap of the sum
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::error_code ec;
        const packet p = deserialize(cases[i].first, ec);
        EXPECT_EQ(ec, make_error_code(cases[i].second)) << "case " << i << ": " << ec.message();
        EXPECT_FALSE(p);
        EXPECT_TRUE(p.data.empty());
    }
    EXPECT_TRUE(corrupted(nullptr, 12));
}

}  // namespace

namespace {

// A decrypted packet's payload is wiped before its memory goes back, however the packet
// goes: destroyed, or overwritten by a copy or a move of another.
TEST(PacketSecrets, PayloadIsWipedBeforeItIsFreed) {
    bytes secret(48);
    ASSERT_EQ(::getrandom(secret.data(), secret.size(), 0), static_cast<ssize_t>(secret.size()));
    const bytes other(4096, 0x5A);  // larger than the secret: the payload gets a new block
    const auto leaks = [&](const std::function<void()>& act) {
        // The pattern list is built before the watch starts: its own temporaries do not count.
        std::vector<bytes> watched = {secret};
        testing_memory::freed_memory_probe probe(std::move(watched));
        act();
        probe.stop();
        return probe.hits();
    };
    auto held = std::make_unique<packet>(1, 16, 4, secret);
    EXPECT_EQ(leaks([&] { held.reset(); }), 0u) << "destroyed";

    packet copied(1, 16, 4, secret);
    const packet replacement(1, 16, 4, other);
    EXPECT_EQ(leaks([&] { copied = replacement; }), 0u) << "copy-assigned";

    packet moved(1, 16, 4, secret);
    packet source(1, 16, 4, other);
    EXPECT_EQ(leaks([&] { moved = std::move(source); }), 0u) << "move-assigned";

    // The probe sees what a packet without the wipe would leave: a plain vector does.
    auto plain = std::make_unique<bytes>(secret);
    EXPECT_GE(leaks([&] { plain.reset(); }), 1u);
}

}  // namespace
