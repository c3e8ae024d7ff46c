#include "session/packet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "session/transfer_error.h"

namespace {

using bytes = std::vector<unsigned char>;

void append_le(bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

// Appends zlib's CRC-32 of everything so far, as the trailer of a flat packet.
bytes seal(bytes out) {
    append_le(out,
              static_cast<std::uint32_t>(::crc32(0L, out.data(), static_cast<uInt>(out.size()))));
    return out;
}

bytes words(std::initializer_list<std::uint32_t> values) {
    bytes out;
    for (auto v : values) {
        append_le(out, v);
    }
    return out;
}

TEST(PacketSerialize, ShortFormIsSixteenBytes) {
    const bytes expected = seal({0x40, 0, 0, 0, 0x40, 0, 0, 0, 0x01, 0, 0, 0});
    EXPECT_EQ(serialize(64, 64, 1), expected);
    EXPECT_EQ(
        serialize(transfer_protocol_header::close_secure, transfer_protocol_phase::acknowledge, 1u),
        expected);
}

TEST(PacketSerialize, ShortFormWithoutStatusCarriesNoStatus) {
    EXPECT_EQ(serialize(1, 4), seal(words({1, 4, 4})));
}

TEST(PacketSerialize, LongFormWithoutStatusCarriesStatusFour) {
    const bytes payload = {'a', 'b', 'c'};
    const bytes flat = serialize(1, 128, payload);
    bytes expected = words({1, 128, 4, 3});
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(flat, seal(expected));
    EXPECT_EQ(flat.size(), 23u);
}

TEST(PacketSerialize, LongFormWithStatus) {
    const bytes payload(300, 0xA5);
    bytes expected = words({256, 8, 2, 300});
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(serialize(256, 8, 2, payload), seal(expected));
}

TEST(PacketSerialize, EmptyPayloadStillUsesLongForm) {
    const bytes flat = serialize(1, 128, bytes{});
    EXPECT_EQ(flat.size(), 20u);
    EXPECT_EQ(flat, seal(words({1, 128, 4, 0})));
}

TEST(PacketDeserialize, ShortFormRoundTrip) {
    std::error_code ec = transfer_error::bad_header;
    const packet p = deserialize(serialize(7, 5, 1), ec);
    EXPECT_FALSE(ec);
    EXPECT_TRUE(p);
    EXPECT_EQ(std::tie(p.header, p.metadata, p.status), std::make_tuple(7u, 5u, 1u));
    EXPECT_TRUE(p.data.empty());
}

TEST(PacketDeserialize, LongFormRoundTrip) {
    const bytes payload = {0, 1, 2, 0xFF, 0};
    std::error_code ec;
    const packet p = deserialize(serialize(1, 16, 9, payload), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(std::tie(p.header, p.metadata, p.status), std::make_tuple(1u, 16u, 9u));
    EXPECT_EQ(p.data, payload);
}

// Twenty bytes with n = 0 are a long form, not a short form with trailing bytes.
TEST(PacketDeserialize, EmptyLongFormDecodesToEmptyPayload) {
    std::error_code ec;
    const packet p = deserialize(serialize(2, 128, 3, bytes{}), ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(std::tie(p.header, p.metadata, p.status), std::make_tuple(2u, 128u, 3u));
    EXPECT_TRUE(p.data.empty());
}

// The cipher leaves block padding after the checksum; it is not part of the packet.
TEST(PacketDeserialize, BytesAfterChecksumAreIgnored) {
    bytes flat = serialize(1, 128, bytes{'x', 'y'});
    flat.insert(flat.end(), 11, 0x0B);
    std::error_code ec;
    const packet p = deserialize(flat, ec);
    EXPECT_FALSE(ec);
    EXPECT_EQ(p.data, (bytes{'x', 'y'}));
}

TEST(PacketDeserialize, AllZeroWordsDecodeButCountAsNothing) {
    std::error_code ec;
    const packet p = deserialize(serialize(0, 0, 0, bytes{'z'}), ec);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(p);
    EXPECT_EQ(p.data, bytes{'z'});
}

struct Rejected {
    const char* name;
    bytes input;
    transfer_error error;
};

class PacketRejected : public ::testing::TestWithParam<Rejected> {};

TEST_P(PacketRejected, GivesAllZeroPacketAndError) {
    std::error_code ec;
    const packet p = deserialize(GetParam().input, ec);
    EXPECT_EQ(ec, make_error_code(GetParam().error)) << ec.message();
    EXPECT_FALSE(p);
    EXPECT_TRUE(p.data.empty());
}

bytes flipped(bytes flat, std::size_t index, unsigned char mask = 0x01) {
    flat[index] ^= mask;
    return flat;
}

bytes truncated(bytes flat, std::size_t size) {
    flat.resize(size);
    return flat;
}

// A long form whose declared length is larger than what arrived; its "checksum" position
// would lie past the input.
bytes overlong_claim(std::uint32_t claimed, std::size_t actual_payload) {
    bytes out = words({1, 128, 4, claimed});
    out.insert(out.end(), actual_payload + 4, 0);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PacketRejected,
    ::testing::Values(
        Rejected{"Empty", {}, transfer_error::bad_data_format},
        Rejected{"FifteenBytes", bytes(15, 1), transfer_error::bad_data_format},
        Rejected{"ShortWrongChecksum", flipped(serialize(1, 4, 1), 12),
                 transfer_error::data_corrupted},
        Rejected{"ShortFlippedWord", flipped(serialize(1, 4, 1), 5),
                 transfer_error::data_corrupted},
        Rejected{"LongFlippedPayload", flipped(serialize(1, 128, bytes(40, 7)), 30),
                 transfer_error::data_corrupted},
        // n shrinks from 40 to 32: still inside the input, so the checksum decides.
        Rejected{"LongShrunkLength", flipped(serialize(1, 128, bytes(40, 7)), 12, 0x08),
                 transfer_error::data_corrupted},
        Rejected{"SeventeenBytes", bytes(17, 0), transfer_error::bad_data_format},
        Rejected{"NineteenBytes", truncated(serialize(1, 128, bytes{}), 19),
                 transfer_error::bad_data_format},
        Rejected{"TruncatedChecksum", truncated(serialize(1, 128, bytes(8, 1)), 27),
                 transfer_error::bad_data_format},
        Rejected{"LengthOnePastInput", overlong_claim(9, 8), transfer_error::bad_data_format},
        Rejected{"HugeLength", overlong_claim(0xFFFFFFFFu, 8), transfer_error::bad_data_format},
        Rejected{"LengthNearWrap", overlong_claim(0xFFFFFFF0u, 0),
                 transfer_error::bad_data_format}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(PacketDeserialize, ClearsErrorOnSuccess) {
    std::error_code ec = transfer_error::data_corrupted;
    (void)deserialize(serialize(1, 2, 3), ec);
    EXPECT_FALSE(ec);
}

TEST(PacketCorrupted, ChecksWordAfterCoveredBytes) {
    const bytes flat = serialize(8, 16, 1);
    EXPECT_FALSE(corrupted(flat.data(), 12));
    EXPECT_TRUE(corrupted(flipped(flat, 15).data(), 12));
    EXPECT_TRUE(corrupted(nullptr, 12));
}

TEST(Packet, MoveLeavesSourceEmpty) {
    packet source(1, 128, 4, bytes{'p'});
    packet target(std::move(source));
    EXPECT_FALSE(source);  // NOLINT(bugprone-use-after-move): the moved-from state is defined
    EXPECT_EQ(std::tie(target.header, target.metadata, target.status),
              std::make_tuple(1u, 128u, 4u));
    EXPECT_EQ(target.data, bytes{'p'});

    packet assigned;
    assigned = std::move(target);
    EXPECT_FALSE(target);  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(assigned);
}

TEST(Packet, PresentWhenAnyWordIsSet) {
    EXPECT_FALSE(packet());
    EXPECT_TRUE(packet(0, 0, 1));
    EXPECT_TRUE(packet(0, 1, 0));
    EXPECT_TRUE(packet(1, 0, 0));
}

TEST(Packet, BuiltFromTransportTuple) {
    const packet p = std::make_tuple(2u, 16u, 0u, bytes{'d'});
    EXPECT_EQ(std::tie(p.header, p.metadata, p.status), std::make_tuple(2u, 16u, 0u));
    EXPECT_EQ(p.data, bytes{'d'});
}

}  // namespace
