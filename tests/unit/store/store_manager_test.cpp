#include "store/store_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

// Counts its own destruction so tests can see who destroys what.
struct Tracked {
    explicit Tracked(int* counter, int ident = 0) : destroyed(counter), id(ident) {}
    ~Tracked() { ++*destroyed; }
    int* destroyed;
    int id;
};

TEST(StoreManager, DuplicateAddKeepsTheFirstBorrowedOrShared) {
    int destroyed = 0;
    Tracked first(&destroyed, 1);
    Tracked second(&destroyed, 2);
    ztl::StoreManager store;
    EXPECT_TRUE(store.add("pair", first));
    EXPECT_FALSE(store.add("pair", second));
    EXPECT_EQ(store.get<Tracked>("pair").get(), &first);

    auto shared = std::make_shared<Tracked>(&destroyed, 3);
    EXPECT_TRUE(store.add("stop", shared));
    EXPECT_FALSE(store.add("stop", std::make_shared<Tracked>(&destroyed, 4)));
    EXPECT_EQ(destroyed, 1);  // the refused rvalue share was the only one
    shared.reset();
    auto got = store.get<Tracked>("stop");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->id, 3);
    EXPECT_EQ(destroyed, 1);
}

// Borrowed objects outlive the store; the shares it owns go with it.
TEST(StoreManager, DestroyingTheStoreLeavesBorrowedObjectsAliveAndReleasesItsShares) {
    int borrowed_destroyed = 0;
    int shared_destroyed = 0;
    int calls = 0;
    auto owner = std::make_unique<Tracked>(&borrowed_destroyed);
    {
        ztl::StoreManager store;
        store.add("database", *owner);
        auto guard = std::make_shared<Tracked>(&shared_destroyed);
        store.add("stop", std::make_shared<std::function<void()>>([&calls, guard] { ++calls; }));
        guard.reset();
        ASSERT_TRUE(store.get<Tracked>("database"));
        (*store.get<std::function<void()>>("stop"))();
        EXPECT_EQ(shared_destroyed, 0);
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(shared_destroyed, 1);
    EXPECT_EQ(borrowed_destroyed, 0);
    owner.reset();
    EXPECT_EQ(borrowed_destroyed, 1);
}

TEST(StoreManager, LookupIsByExactNameAndRemoveErasesOnlyThatName) {
    int a = 1;
    int b = 2;
    ztl::StoreManager store;
    EXPECT_FALSE(store.get<int>("a"));
    store.add("a", a);
    store.add("b", b);
    EXPECT_FALSE(store.get<int>("A"));
    store.remove("a");
    store.remove("missing");
    EXPECT_FALSE(store.get<int>("a"));
    EXPECT_EQ(store.get<int>("b").get(), &b);
    EXPECT_TRUE(store.add("a", b));  // the name is free again
}

}  // namespace
