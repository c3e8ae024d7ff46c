#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "crypto/checker.h"
#include "crypto/crypto_error.h"
#include "crypto/genrand.h"
#include "crypto/randomizer.h"
#include "crypto/sysrand.h"
#include "fake_provider.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Steps that count the draws by size (the k-th draw of a size is filled with k), hash by
// taking the first 32 bytes (or, with failing_hash, give no digest) and pass only the check
// call numbered pass_at (0-based).
struct counting_steps {
    std::map<std::size_t, int> draws;
    int checks = 0;
    int pass_at = -1;
    bool failing_hash = false;

    misc::random_vector_steps steps() {
        return {
            [this](std::size_t n) { return bytes(n, static_cast<std::uint8_t>(++draws[n])); },
            [this](const bytes& candidate, std::error_code& ec) {
                ec = failing_hash ? crypto_error::hash_initialize_error : std::error_code();
                return failing_hash ? bytes() : bytes(candidate.begin(), candidate.begin() + 32);
            },
            [this](const bytes&, std::error_code& ec) {
                ec.clear();
                return checks++ == pass_at;
            },
        };
    }
};

// 512 short candidates, then 4096 long ones; the first passing digest is the result. An
// empty digest is never checked, so it can never pass for a result.
TEST(RandomVector, FirstPassingDigestWithinBoundedRounds) {
    const struct {
        int pass_at;
        bool failing_hash;
        bytes result;
        int short_draws, long_draws, checks;
    } rows[] = {
        {2, false, bytes(32, 3), 3, 0, 3},
        {512, false, bytes(32, 1), 512, 1, 513},
        {-1, false, {}, 512, 4096, 512 + 4096},
        {0, true, {}, 512, 4096, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.pass_at);
        counting_steps counter;
        counter.pass_at = r.pass_at;
        counter.failing_hash = r.failing_hash;
        std::error_code ec = crypto_error::internal_error;
        EXPECT_EQ(misc::get_random_vector(counter.steps(), ec), r.result);
        EXPECT_EQ(std::tuple(counter.draws[64], counter.draws[512], counter.checks),
                  std::tuple(r.short_draws, r.long_draws, r.checks));
        EXPECT_EQ(ec, r.result.empty() ? make_error_code(crypto_error::random_check_failed)
                                       : std::error_code());
    }

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
    EXPECT_FALSE(randomizer.random(nullptr, 8, ec));
    EXPECT_FALSE(ec);  // a null buffer is checked first: nothing to fill, nothing wrong

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
    for (const auto& [n, size] :
         {std::pair<std::size_t, std::size_t>{0, 0}, {7, 0}, {12, 0}, {8, 8}, {512, 512}}) {
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
