#include <gtest/gtest.h>

#include <map>

#include "crypto/checker.h"
#include "crypto/crypto_error.h"
#include "crypto/genrand.h"
#include "crypto/randomizer.h"
#include "crypto/sysrand.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Steps that count the draws by size and hash by taking the first 32 bytes.
struct counting_steps {
    std::map<std::size_t, int> draws;
    int checks = 0;
    int pass_at = -1;  // the check call (0-based) that passes; -1 never

    misc::random_vector_steps steps() {
        return {
            [this](std::size_t n) {
                ++draws[n];
                return bytes(n, static_cast<std::uint8_t>(draws[n]));
            },
            [](const bytes& candidate, std::error_code& ec) {
                ec.clear();
                return bytes(candidate.begin(), candidate.begin() + 32);
            },
            [this](const bytes&, std::error_code& ec) {
                ec.clear();
                return checks++ == pass_at;
            },
        };
    }
};

TEST(RandomVector, CheckerThatNeverPassesBoundsTheRounds) {
    counting_steps counter;
    std::error_code ec;
    EXPECT_TRUE(misc::get_random_vector(counter.steps(), ec).empty());
    EXPECT_EQ(counter.draws.size(), 2u);
    EXPECT_EQ(counter.draws[64], 512);
    EXPECT_EQ(counter.draws[512], 4096);
    EXPECT_EQ(counter.checks, 512 + 4096);
    EXPECT_EQ(ec, crypto_error::random_check_failed);
}

TEST(RandomVector, FirstPassingDigestIsTheResult) {
    counting_steps counter;
    counter.pass_at = 2;
    std::error_code ec = crypto_error::internal_error;
    const bytes result = misc::get_random_vector(counter.steps(), ec);
    EXPECT_EQ(result, bytes(32, 3));  // the third 64-byte draw
    EXPECT_EQ(counter.draws[64], 3);
    EXPECT_FALSE(ec);
}

TEST(RandomVector, LongDrawsFollowTheShortOnes) {
    counting_steps counter;
    counter.pass_at = 512;
    std::error_code ec;
    const bytes result = misc::get_random_vector(counter.steps(), ec);
    EXPECT_EQ(result, bytes(32, 1));  // the first 512-byte draw
    EXPECT_EQ(counter.draws[64], 512);
    EXPECT_EQ(counter.draws[512], 1);
}

TEST(RandomVector, EmptyDigestsAreNeverChecked) {
    int checks = 0;
    const misc::random_vector_steps steps{
        randgen::system,
        [](const bytes&, std::error_code& ec) {
            ec = crypto_error::hash_initialize_error;
            return bytes{};
        },
        [&checks](const bytes&, std::error_code&) { return ++checks > 0; },
    };
    std::error_code ec;
    EXPECT_TRUE(misc::get_random_vector(steps, ec).empty());
    EXPECT_EQ(checks, 0);
    EXPECT_EQ(ec, crypto_error::random_check_failed);
}

TEST(RandomVector, ProviderGivesACheckedDigest) {
    crypto_factory f = fake::seeded(crypto_factory());
    std::error_code ec;
    const bytes vector = misc::get_random_vector(f, ec);
    EXPECT_EQ(vector.size(), 32u) << ec.message();
    EXPECT_FALSE(ec);
    RandomChecker checker;
    ASSERT_TRUE(checker.initialize(f, ec));
    EXPECT_TRUE(checker.check(vector, ec));
}

TEST(RandomVector, UninitializedFactoryGivesNothing) {
    crypto_factory f;
    std::error_code ec;
    EXPECT_TRUE(misc::get_random_vector(f, ec).empty());
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
}

TEST(RandomCheckerTest, RefusesWithoutInitializationOrInput) {
    RandomChecker checker;
    std::error_code ec;
    EXPECT_FALSE(checker.check(bytes(32, 1), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);

    crypto_factory f = fake::seeded(crypto_factory());
    ASSERT_TRUE(checker.initialize(f, ec));
    EXPECT_FALSE(checker.check({}, ec));
    EXPECT_EQ(ec, crypto_error::empty_sequence);
    EXPECT_EQ(ec.message(), "Sequence is empty");
}

TEST(RandomCheckerTest, UninitializedFactoryIsRefused) {
    RandomChecker checker;
    crypto_factory f;
    std::error_code ec;
    EXPECT_FALSE(checker.initialize(f, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);
    EXPECT_FALSE(checker.is_initialized());
}

TEST(RandomCheckerTest, ConstantSequenceFailsWithoutError) {
    RandomChecker checker;
    std::error_code ec;
    ASSERT_TRUE(checker.initialize(bytes(32, 7), ec)) << ec.message();
    for (std::uint8_t fill : {0x00, 0xFF, 0xAA}) {
        ec = crypto_error::internal_error;
        EXPECT_FALSE(checker.check(bytes(64, fill), ec)) << int{fill};
        EXPECT_FALSE(ec) << int{fill};
    }
}

TEST(RandomCheckerTest, ProviderRandomBytesPassMostly) {
    // Each test of the checker rejects about 1% of good sequences, so demand only that some
    // of twenty pass.
    crypto_factory f = fake::seeded(crypto_factory());
    RandomChecker checker;
    Randomizer randomizer;
    std::error_code ec;
    ASSERT_TRUE(checker.initialize(f, ec));
    ASSERT_TRUE(randomizer.initialize(f, ec));
    int passed = 0;
    for (int i = 0; i < 20; ++i) {
        bytes candidate(64);
        ASSERT_TRUE(randomizer.random(candidate.data(), candidate.size(), ec));
        passed += checker.check(candidate, ec) ? 1 : 0;
    }
    EXPECT_GE(passed, 10);
}

TEST(RandomizerTest, FillsBuffersWithFreshBytes) {
    crypto_factory f = fake::seeded(crypto_factory());
    Randomizer randomizer;
    std::error_code ec;
    ASSERT_TRUE(randomizer.initialize(f, ec)) << ec.message();
    EXPECT_TRUE(randomizer.is_initialized());
    EXPECT_NE(randomizer.self(), nullptr);
    bytes a(32, 0), b(32, 0);
    ASSERT_TRUE(randomizer.random(a.data(), a.size(), ec));
    ASSERT_TRUE(randomizer.random(b.data(), b.size(), ec));
    EXPECT_NE(a, bytes(32, 0));
    EXPECT_NE(a, b);
}

TEST(RandomizerTest, FailurePaths) {
    Randomizer randomizer;
    std::error_code ec;
    bytes buffer(8);
    EXPECT_FALSE(randomizer.random(buffer.data(), buffer.size(), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);

    ec = crypto_error::internal_error;
    EXPECT_FALSE(randomizer.random(nullptr, 8, ec));
    EXPECT_FALSE(ec);

    crypto_factory empty;
    EXPECT_FALSE(randomizer.initialize(empty, ec));
    EXPECT_EQ(ec, crypto_error::factory_not_initialized);

    // A factory that passed its check but now refuses random generators.
    const auto refuse = std::make_shared<bool>(false);
    crypto_factory f = fake::seeded(fake::factory_with(fake::script::random_refused_while(refuse)));
    ASSERT_TRUE(f.is_initialized());
    *refuse = true;
    EXPECT_FALSE(randomizer.initialize(f, ec));
    EXPECT_EQ(ec, crypto_error::internal_not_initialized);
    EXPECT_FALSE(randomizer.is_initialized());
}

TEST(RandomizerTest, OwnSeedInitializes) {
    Randomizer randomizer;
    std::error_code ec;
    ASSERT_TRUE(randomizer.initialize(bytes(32, 3), ec)) << ec.message();
    bytes buffer(16, 0);
    EXPECT_TRUE(randomizer.random(buffer.data(), buffer.size(), ec));
}

}  // namespace
