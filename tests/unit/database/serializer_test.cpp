#include "database/serializer.h"

#include "database/frame_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

bytes b(const std::string& text) {
    return bytes(text.begin(), text.end());
}

Serializer with_items(std::initializer_list<bytes> items) {
    Serializer s;
    for (const auto& item : items) {
        s.push_back(item);
    }
    return s;
}

std::vector<bytes> items_of(const Serializer& s) {
    return {s.begin(), s.end()};
}

std::vector<bytes> decoded(const bytes& frame, Serializer s = {}) {
    s.deserialize(frame);
    return items_of(s);
}

TEST(SerializerFrame, ByteExactVectors) {
    const bytes two_items = {0x0A, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 'a', 'b', 0, 0, 0, 0};
    EXPECT_EQ(with_items({b("ab"), {}}).serialize(), two_items);
    EXPECT_EQ(decoded(two_items), (std::vector<bytes>{b("ab"), {}}));
    EXPECT_EQ(Serializer().serialize(), bytes(8, 0));
    // Lengths are little-endian.
    const bytes frame = with_items({bytes(0x0102, 0x5A)}).serialize();
    EXPECT_EQ(bytes(frame.begin(), frame.begin() + 12),
              (bytes{0x06, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0x01, 0, 0}));
}

TEST(SerializerFrame, RoundTripKeepsOrderAndEmbeddedZerosAndIgnoresTrailingBytes) {
    Serializer original;
    for (unsigned i = 0; i < 50; ++i) {
        original.push_back(bytes(i * 37 % 300, static_cast<unsigned char>(i * 101)));
    }
    original.push_back(bytes{0, 0, 0});
    bytes frame = original.serialize();
    EXPECT_EQ(decoded(frame), items_of(original));
    frame.insert(frame.end(), 40, 0);
    frame.push_back(0x77);
    EXPECT_EQ(decoded(frame), items_of(original));
}

// Twelve bytes or fewer are not decoded at all: whatever the target held survives. This is
// why a frame of one empty item does not decode back to what was encoded.
TEST(SerializerFrame, TwelveBytesOrFewerLeaveItemsUntouched) {
    const bytes one_empty_item = with_items({{}}).serialize();
    ASSERT_EQ(one_empty_item, (bytes{4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const bytes& input : {one_empty_item, bytes(8, 0), bytes{}, bytes(12, 0xFF)}) {
        EXPECT_EQ(decoded(input, with_items({b("kept")})), std::vector<bytes>{b("kept")})
            << input.size();
    }
    EXPECT_TRUE(decoded(one_empty_item).empty());
    // Thirteen bytes is the smallest frame that decodes, and it replaces the old items.
    EXPECT_EQ(decoded(with_items({b("Q")}).serialize(), with_items({b("old"), b("older")})),
              std::vector<bytes>{b("Q")});
}

bytes with_header(std::uint64_t body_length, bytes body) {
    for (int i = 7; i >= 0; --i) {
        body.insert(body.begin(), static_cast<unsigned char>(body_length >> (8 * i)));
    }
    return body;
}

// Each bad frame replaces whatever was there with nothing, even where leading items fit.
TEST(SerializerFrame, BadLengthsGiveNoItems) {
    const std::pair<const char*, bytes> cases[] = {
        {"L one past the input", with_header(12, {1, 0, 0, 0, 'a', 2, 0, 0, 0, 'b'})},
        {"huge L", with_header(~0ull, {1, 0, 0, 0, 'a'})},
        {"L near wrap", with_header(~0ull - 7, {1, 0, 0, 0, 'a'})},
        {"zero L", with_header(0, {9, 9, 9, 9, 9})},
        {"last item overruns", with_header(10, {1, 0, 0, 0, 'a', 2, 0, 0, 0, 'b'})},
        {"item length near wrap", with_header(6, {0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'})},
        {"body ends in a length field", with_header(7, {1, 0, 0, 0, 'a', 0, 0})},
        {"item past L, input has the bytes", with_header(5, {2, 0, 0, 0, 'a', 'b', 0, 0})},
    };
    for (const auto& [name, frame] : cases) {
        Serializer s = with_items({b("previous")});
        s.deserialize(frame);
        EXPECT_TRUE(s.empty()) << name;
        EXPECT_TRUE(s.pop_front().empty()) << name;
    }
}

// Popped items are skipped by an offset: every other operation must respect it.
TEST(SerializerItems, PopsFromBothEndsThenAssignAndClear) {
    Serializer s;
    EXPECT_TRUE(s.pop_front().empty());
    EXPECT_TRUE(s.pop_back().empty());
    s = with_items({b("1"), b("2"), b("3")});
    EXPECT_EQ(s.pop_back(), b("3"));
    EXPECT_EQ(s.pop_front(), b("1"));
    EXPECT_EQ(s[0], b("2"));
    EXPECT_EQ(s.serialize(), with_items({b("2")}).serialize());
    EXPECT_EQ(s.pop_front(), b("2"));
    EXPECT_TRUE(s.pop_front().empty());  // a decoder's missing trailing field reads empty

    s = with_items({b("a"), b("b"), b("c")});
    s.pop_front();
    s.assign(b("z"));
    EXPECT_EQ(items_of(s), std::vector<bytes>{b("z")});
    s.push_back(b("y"));
    s.pop_front();
    s.clear();
    EXPECT_TRUE(s.empty());
    s.push_back(b("n"));
    EXPECT_EQ(items_of(s), std::vector<bytes>{b("n")});
}

// Used as a long-running queue, the list keeps its order and content.
TEST(SerializerItems, QueueUseKeepsOrder) {
    Serializer s;
    int next_in = 0;
    int next_out = 0;
    for (int round = 0; round < 1000; ++round) {
        s.push_back(b(std::to_string(next_in++)));
        s.push_back(b(std::to_string(next_in++)));
        ASSERT_EQ(s.pop_front(), b(std::to_string(next_out++)));
        ASSERT_EQ(s[0], b(std::to_string(next_out)));
    }
    EXPECT_EQ(s.size(), 1000u);
    EXPECT_EQ(*s.begin(), b(std::to_string(next_out)));
    EXPECT_EQ(s.pop_back(), b(std::to_string(next_in - 1)));
}

// The frame writer gives the bytes the item list gives for the same items, nested frames
// (empty ones too) included, and refuses to close what is not open.
TEST(FrameWriter, WritesWhatTheItemListEncodes) {
    const auto frame_of = [](std::vector<bytes> items) {
        Serializer s;
        for (auto& item : items) {
            s.push_back(std::move(item));
        }
        return s.serialize();
    };
    frame_writer writer;
    writer.add(b("status"));
    writer.add({});
    writer.begin_frame();
    writer.begin_frame();
    writer.add(b("alice"));
    writer.add(b("bob"));
    writer.end_frame();
    writer.begin_frame();
    writer.end_frame();
    writer.end_frame();
    const bytes expected =
        frame_of({b("status"), {}, frame_of({frame_of({b("alice"), b("bob")}), frame_of({})})});
    EXPECT_EQ(std::move(writer).finish(), expected);
    EXPECT_EQ(frame_writer().finish(), frame_of({}));

    frame_writer unbalanced;
    EXPECT_THROW(unbalanced.end_frame(), std::logic_error);
    unbalanced.begin_frame();
    EXPECT_THROW(std::move(unbalanced).finish(), std::logic_error);
}

}  // namespace
