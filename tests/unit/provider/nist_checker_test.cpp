#include <gtest/gtest.h>
#include <openssl/rand.h>

#include "test_support.h"

namespace provider_test {
namespace {

class NistCheckerTest : public ::testing::Test {
  protected:
    bool passes(const Bytes& bytes) {
        checker_->load(bytes);
        return checker_->test(0);
    }

    std::shared_ptr<SequenceCheckerBase> checker_ =
        make_factory()->create_sequence_checker(L"nist");
};

TEST_F(NistCheckerTest, MostRandomSequencesPass) {
    int passed = 0;
    for (int i = 0; i < 1000; ++i) {
        Bytes bytes(32);
        ASSERT_EQ(RAND_bytes(bytes.data(), 32), 1);
        passed += passes(bytes) ? 1 : 0;
    }
    // Six p-values at 0.01 each: roughly 95% of random sequences pass.
    EXPECT_GE(passed, 900);
    EXPECT_LT(passed, 1000);  // a checker that passes everything would not be checking
}

TEST_F(NistCheckerTest, PatternedSequencesFail) {
    const std::uint8_t patterns[] = {0x00, 0xFF, 0x55, 0xAA, 0x0F, 0xCC};
    for (std::uint8_t pattern : patterns) {
        EXPECT_FALSE(passes(Bytes(32, pattern))) << "pattern " << int{pattern};
        EXPECT_FALSE(passes(Bytes(512, pattern))) << "long pattern " << int{pattern};
    }
}

TEST_F(NistCheckerTest, SequencesShorterThan128BitsFail) {
    int passed = 0;
    for (int i = 0; i < 50; ++i) {
        Bytes bytes(15);
        ASSERT_EQ(RAND_bytes(bytes.data(), 15), 1);
        passed += passes(bytes) ? 1 : 0;
    }
    EXPECT_EQ(passed, 0);
    EXPECT_FALSE(passes(Bytes()));
}

TEST_F(NistCheckerTest, NothingLoadedFails) {
    auto fresh = make_factory()->create_sequence_checker(L"");
    EXPECT_FALSE(fresh->test(0));
}

TEST_F(NistCheckerTest, NonZeroModeIsRefused) {
    EXPECT_THROW(checker_->test(1), InvalidArgumentException);
}

}  // namespace
}  // namespace provider_test
