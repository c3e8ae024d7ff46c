#include "crypto/crypto_factory.h"

#include <gtest/gtest.h>

#include <utility>

#include "fake_provider.h"

namespace {

const std::vector<std::uint8_t> kSeed(32, 0x42);

TEST(CryptoFactory, SeededFactoryIsInitialized) {
    crypto_factory f;
    EXPECT_FALSE(f.is_initialized());
    EXPECT_EQ(f.self(), nullptr);
    ASSERT_TRUE(f.initialize(kSeed));
    EXPECT_TRUE(f.is_initialized());
    EXPECT_TRUE(static_cast<bool>(f));
    EXPECT_NE(f.self(), nullptr);
}

TEST(CryptoFactory, SecondInitializeReplacesTheProviderFactory) {
    crypto_factory f;
    ASSERT_TRUE(f.initialize(kSeed));
    const auto first = f.self();
    std::vector<std::uint8_t> seed(64, 0x17);
    ASSERT_TRUE(f.initialize(std::move(seed)));
    EXPECT_NE(f.self(), first);
    EXPECT_TRUE(f.is_initialized());
}

TEST(CryptoFactory, ProviderThrowingInInitializeLeavesNoFactory) {
    crypto_factory f = fake::factory_with(fake::script::initialize_throws());
    EXPECT_FALSE(f.initialize(kSeed));
    EXPECT_FALSE(f.is_initialized());
    EXPECT_EQ(f.self(), nullptr);
}

TEST(CryptoFactory, FailedReinitializationDropsTheEarlierFactory) {
    bool fail = false;
    crypto_factory f([&fail] {
        return std::make_shared<fake::scripted_factory>(fail ? fake::script::initialize_throws()
                                                             : fake::script{});
    });
    ASSERT_TRUE(f.initialize(kSeed));
    fail = true;
    EXPECT_FALSE(f.initialize(kSeed));
    EXPECT_FALSE(f.is_initialized());
    EXPECT_EQ(f.self(), nullptr);
}

TEST(CryptoFactory, NullSeedWithLengthIsRefusedByTheProvider) {
    // The provider refuses a null seed of non-zero length; the handle then holds nothing.
    crypto_factory f;
    EXPECT_FALSE(f.initialize(nullptr, 5));
    EXPECT_FALSE(f.is_initialized());
    EXPECT_EQ(f.self(), nullptr);
}

TEST(CryptoFactory, FailedCheckKeepsFactoryButNotInitialized) {
    const auto refuse = std::make_shared<bool>(false);
    crypto_factory f = fake::factory_with(fake::script::random_refused_while(refuse));
    ASSERT_TRUE(f.initialize(kSeed));
    *refuse = true;
    EXPECT_FALSE(f.initialize(kSeed));
    EXPECT_NE(f.self(), nullptr);
    // A factory that cannot give a random generator must not pass for initialized, even
    // though the one before it did.
    EXPECT_FALSE(f.is_initialized());
    EXPECT_FALSE(f.check());
}

TEST(CryptoFactory, CheckWithoutFactoryFails) {
    crypto_factory f;
    EXPECT_FALSE(f.check());
    EXPECT_FALSE(f.is_initialized());
}

TEST(CryptoFactory, MovedFromFactoryIsNotInitialized) {
    crypto_factory f;
    ASSERT_TRUE(f.initialize(kSeed));
    const auto provider = f.self();

    crypto_factory moved(std::move(f));
    EXPECT_TRUE(moved.is_initialized());
    EXPECT_EQ(moved.self(), provider);
    EXPECT_FALSE(f.is_initialized());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(f.self(), nullptr);      // NOLINT(bugprone-use-after-move)

    crypto_factory assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.is_initialized());
    EXPECT_FALSE(moved.is_initialized());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(moved.self(), nullptr);      // NOLINT(bugprone-use-after-move)
}

TEST(CryptoFactory, MovedFromFactoryCanBeSeededAgain) {
    crypto_factory f;
    ASSERT_TRUE(f.initialize(kSeed));
    crypto_factory other(std::move(f));
    EXPECT_TRUE(f.initialize(kSeed));  // NOLINT(bugprone-use-after-move)
    EXPECT_NE(f.self(), other.self());
}

TEST(CryptoFactory, CopiesShareTheProviderFactory) {
    crypto_factory f;
    ASSERT_TRUE(f.initialize(kSeed));
    const crypto_factory copy = f;
    EXPECT_TRUE(copy.is_initialized());
    EXPECT_EQ(copy.self(), f.self());
    // Reseeding the original gives it a new provider factory; the copy keeps the old one.
    const auto shared = f.self();
    ASSERT_TRUE(f.initialize(kSeed));
    EXPECT_EQ(copy.self(), shared);
    EXPECT_NE(f.self(), shared);
    EXPECT_TRUE(copy.is_initialized());
}

}  // namespace
