#include "database/id_manager.h"

#include <gtest/gtest.h>

#include "database/serializer.h"

namespace {

using bytes = std::vector<unsigned char>;

DatabaseIdManager with_ids_up_to(int last) {
    DatabaseIdManager ids;
    for (int i = 0; i < last; ++i) {
        ids.obtain_id();
    }
    return ids;
}

TEST(DatabaseIdManager, ReusesReleasedIdsSmallestFirstAndIgnoresIdsNotInUse) {
    DatabaseIdManager ids = with_ids_up_to(6);
    EXPECT_EQ(ids.next_id(), 7u);
    ids.release_id(5);
    ids.release_id(3);
    EXPECT_EQ(ids.obtain_id(), 3u);
    EXPECT_EQ(ids.obtain_id(), 5u);
    EXPECT_EQ(ids.obtain_id(), 7u);

    const bytes before = ids.save();
    ids.release_id(9);  // never handed out
    ids.release_id(0);
    EXPECT_EQ(ids.save(), before);
    ids.release_id(2);
    ids.release_id(2);  // the second release finds it no longer in use
    EXPECT_EQ(ids.released_ids(), std::vector<std::uint64_t>{2});
}

TEST(DatabaseIdManager, FrameHasNextIdUsedAndSortedReleasedAndLoadsBack) {
    DatabaseIdManager ids = with_ids_up_to(4);
    ids.release_id(4);
    ids.release_id(2);
    Serializer frame;
    frame.deserialize(ids.save());
    ASSERT_EQ(frame.size(), 3u);
    EXPECT_EQ(frame[0], (bytes{5, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(frame[1].size(), 16u);
    EXPECT_EQ(frame[2], (bytes{2, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}));

    DatabaseIdManager loaded;
    loaded.load({});  // empty input does nothing
    loaded.load(ids.save());
    EXPECT_EQ(loaded.next_id(), 5u);
    EXPECT_EQ(loaded.used_ids().size(), 2u);
    EXPECT_EQ(loaded.obtain_id(), 2u);
    EXPECT_EQ(loaded.obtain_id(), 4u);
    EXPECT_EQ(loaded.obtain_id(), 5u);
}

// A trailing partial group is ignored, and a damaged next id never hands out 0.
TEST(DatabaseIdManager, DamagedFramesLoadSafely) {
    Serializer frame;
    frame.push_back(bytes{9, 0, 0, 0, 0, 0, 0, 0});
    frame.push_back(bytes{1, 0, 0, 0, 0, 0, 0, 0, 7, 7, 7});
    frame.push_back(bytes{3, 0, 0, 0, 0, 0, 0, 0, 4, 0});
    DatabaseIdManager ids;
    ids.load(frame.serialize());
    EXPECT_EQ(ids.used_ids(), (std::unordered_set<std::uint64_t>{1}));
    EXPECT_EQ(ids.released_ids(), std::vector<std::uint64_t>{3});

    frame[0] = bytes{1, 2, 3};  // not 8 bytes: reads as next id 0
    frame[1] = bytes{};
    frame[2] = bytes(8, 0);  // a released 0
    DatabaseIdManager damaged;
    damaged.load(frame.serialize());
    EXPECT_EQ(damaged.next_id(), 0u);
    EXPECT_EQ(damaged.obtain_id(), 1u);
    EXPECT_EQ(damaged.obtain_id(), 2u);
}

}  // namespace
