// The in-place frame reader must accept and split exactly what Serializer::deserialize does.
#include "database/frame_view.h"

#include <gtest/gtest.h>

#include <random>

#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

std::vector<bytes> via_view(const bytes& frame) {
    std::vector<bytes> items;
    for (const auto item : db::frame_items(frame)) {
        items.emplace_back(item.begin(), item.end());
    }
    return items;
}

std::vector<bytes> via_serializer(const bytes& frame) {
    Serializer s;
    s.deserialize(frame);
    return std::vector<bytes>(s.begin(), s.end());
}

bytes frame_of(const std::vector<bytes>& items) {
    Serializer s;
    for (const auto& item : items) {
        s.push_back(item);
    }
    return s.serialize();
}

TEST(FrameView, SplitsLikeTheSerializer) {
    const bytes ab = {'a', 'b'};
    std::vector<bytes> cases = {
        {},
        bytes(8, 0),
        bytes(12, 0),
        frame_of({{}}),
        frame_of({{1}}),
        frame_of({ab, {}, {1, 2, 3}}),
        frame_of({bytes(300, 7), ab}),
    };
    bytes padded = frame_of({ab, ab});
    padded.insert(padded.end(), 16, 0);  // trailing zero padding is ignored
    cases.push_back(padded);
    bytes long_header = frame_of({ab, ab});
    long_header[0] += 1;  // body claims a byte more than the input holds
    cases.push_back(long_header);
    bytes overrun = frame_of({ab, ab});
    overrun[14] = 3;  // the second item claims one byte past the body
    cases.push_back(overrun);
    bytes cut_length = frame_of({ab});
    cut_length[0] += 2;
    cut_length.insert(cut_length.end(), {0, 0});  // two bytes left: not a length field
    cases.push_back(cut_length);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(via_view(cases[i]), via_serializer(cases[i])) << "case " << i;
    }
    EXPECT_EQ(via_view(padded).size(), 2u);
    EXPECT_TRUE(via_view(overrun).empty());
}

TEST(FrameView, AgreesWithTheSerializerOnMutatedFrames) {
    std::mt19937 random(12345);
    const bytes base = frame_of({{1, 2, 3}, {}, bytes(40, 9), {4}});
    for (int round = 0; round < 20000; ++round) {
        bytes frame = base;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const auto at = random() % frame.size();
            switch (random() % 3) {
                case 0:
                    frame[at] = static_cast<unsigned char>(random());
                    break;
                case 1:
                    frame.resize(at);
                    break;
                default:
                    frame.insert(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                 static_cast<unsigned char>(random()));
                    break;
            }
            if (frame.empty()) {
                break;
            }
        }
        ASSERT_EQ(via_view(frame), via_serializer(frame)) << "round " << round;
    }
}

}  // namespace
