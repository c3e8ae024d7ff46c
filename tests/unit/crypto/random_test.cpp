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

// Steps that count the draws by size (the k-th draw of a size is filled with k), hash by
// taking the first 32 bytes and pass only the check call numbered pass_at (0-based).
struct counting_steps {
    std::map<std::size_t, int> draws;
    int checks = 0;
    int pass_at = -1;

    misc::random_vector_steps steps() {
        return {
            [this](std::size_t n) { return bytes(n, static_cast<std::uint8_t>(++draws[n])); },
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

TEST(RandomVector, CheckerThatNeverPassesBoundsTheRoundsAndEmptyDigestsAreNotChecked) {
    counting_steps counter;
    std::error_code ec;
    EXPECT_TRUE(misc::get_random_vector(counter.steps(), ec).empty());
    EXPECT_EQ(counter.draws.size(), 2u);
    EXPECT_EQ(counter.draws[64], 512);
    EXPECT_EQ(counter.draws[512], 4096);
    EXPECT_EQ(counter.checks, 512 + 4096);
    EXPECT_EQ(ec, crypto_error::random_check_failed);

    // Empty digests are never checked.
    counting_steps failing_hash;
    auto steps = failing_hash.steps();
    steps.hash = [](const bytes&, std::error_code& hash_ec) {
        hash_ec = crypto_error::hash_initialize_error;
        return bytes{};
    };
    EXPECT_TRUE(misc::get_random_vector(steps, ec).empty());
    EXPECT_EQ(failing_hash.checks, 0);
    EXPECT_EQ(ec, crypto_error::random_check_failed);
}

TEST(RandomVector, FirstPassingDigestIsTheResult) {
    struct row {
        int pass_at;
        std::uint8_t fill;  // which draw of its size the result came from
        int short_draws;
        int long_draws;
    };
    for (const row r : {row{2, 3, 3, 0}, row{512, 1, 512, 1}}) {
        counting_steps counter;
        counter.pass_at = r.pass_at;
        std::error_code ec = crypto_error::internal_error;
        EXPECT_EQ(misc::get_random_vector(counter.steps(), ec), bytes(32, r.fill)) << r.pass_at;
        EXPECT_EQ(counter.draws[64], r.short_draws) << r.pass_at;
        EXPECT_EQ(counter.draws[512], r.long_draws) << r.pass_at;
        EXPECT_FALSE(ec) << r.pass_at;
    }
}

TEST(RandomVector, ProviderGivesACheckedDigest) {
    crypto_factory f = fake::seeded();
    std::error_code ec;
    const bytes vector = misc::get_random_vector(f, ec);
    EXPECT_EQ(vector.size(), 32u) << ec.message();
    RandomChecker checker;
    ASSERT_TRUE(checker.initialize(f, ec));
    EXPECT_TRUE(checker.check(vector, ec));
}

TEST(RandomCheckerTest, RefusesWithoutInitializationOrInputAndFailsConstantSequences) {
    RandomChecker checker;
    std::error_code ec;
    EXPECT_FALSE(checker.check(bytes(32, 1), ec));
    EXPECT_EQ(ec, crypto_error::not_initialized);
    ASSERT_TRUE(checker.initialize(bytes(32, 7), ec)) << ec.message();
    EXPECT_FALSE(checker.check({}, ec));
    EXPECT_EQ(ec, crypto_error::empty_sequence);
    for (std::uint8_t fill : {0x00, 0xFF, 0xAA}) {
        ec = crypto_error::internal_error;
        EXPECT_FALSE(checker.check(bytes(64, fill), ec)) << int{fill};
        EXPECT_FALSE(ec) << int{fill};
    }
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

    // A factory that passed its check but now refuses random generators.
    const auto refuse = std::make_shared<bool>(false);
    crypto_factory f =
        fake::seeded(fake::factory_with([&](fake::script& s) { s.refuse_random = refuse; }));
    ASSERT_TRUE(f.is_initialized());
    *refuse = true;
    EXPECT_FALSE(randomizer.initialize(f, ec));
    EXPECT_EQ(ec, crypto_error::internal_not_initialized);
    EXPECT_FALSE(randomizer.is_initialized());
}

TEST(SystemRandom, GivesWholeWordsOnlyAndSeededIsMersenneTwister64InLittleEndianWords) {
    const std::pair<std::size_t, std::size_t> rows[] = {
        {0, 0}, {1, 0}, {7, 0}, {12, 0}, {63, 0}, {8, 8}, {64, 64}, {512, 512},
    };
    for (const auto& [n, size] : rows) {
        EXPECT_EQ(randgen::system(n).size(), size) << n;
    }
    EXPECT_TRUE(randgen::from_seed(1, 12).empty());
    // The seed mixes the random device into the clock, so even draws within the same
    // microsecond differ.
    EXPECT_NE(randgen::system(64), randgen::system(64));

    // The 10000th output of MT19937-64 under its default seed 5489 is a published value.
    const auto words = randgen::from_seed(5489, std::size_t{8} * 10000);
    ASSERT_EQ(words.size(), 80000u);
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) {
        value = (value << 8) | words[std::size_t{8} * 9999 + i];
    }
    EXPECT_EQ(value, 9981545732273789042ull);
}

}  // namespace
