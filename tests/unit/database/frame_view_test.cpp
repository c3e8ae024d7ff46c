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

// Random edits (overwrite, cut, insert) of a valid frame reach every header and length
// case: short inputs, bodies longer or shorter than declared, overrunning items.
TEST(FrameView, AgreesWithTheSerializerOnValidAndMutatedFrames) {
    Serializer source;
    for (const bytes& item : {bytes{1, 2, 3}, bytes{}, bytes(40, 9), bytes{4}}) {
        source.push_back(item);
    }
    const bytes base = source.serialize();
    bytes padded = base;
    padded.insert(padded.end(), 16, 0);  // trailing zero padding is ignored
    for (const bytes& frame : {bytes{}, bytes(8, 0), bytes(12, 0), base, padded}) {
        EXPECT_EQ(via_view(frame), via_serializer(frame)) << frame.size();
    }
    EXPECT_EQ(via_view(padded).size(), 4u);

    std::mt19937 random(12345);
    for (int round = 0; round < 20000; ++round) {
        bytes frame = base;
        for (int edits = 1 + static_cast<int>(random() % 3); edits > 0 && !frame.empty(); --edits) {
            const auto at = random() % frame.size();
            const auto value = static_cast<unsigned char>(random());
            if (const auto kind = random() % 3; kind == 0) {
                frame[at] = value;
            } else if (kind == 1) {
                frame.resize(at);
            } else {
                frame.insert(frame.begin() + static_cast<std::ptrdiff_t>(at), value);
            }
        }
        ASSERT_EQ(via_view(frame), via_serializer(frame)) << "round " << round;
    }
}

}  // namespace
