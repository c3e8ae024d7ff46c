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

    // How many of `count` random sequences of `size` bytes pass.
    int random_passes(std::size_t size, int count) {
        int passed = 0;
        for (int i = 0; i < count; ++i) {
            Bytes bytes(size);
            EXPECT_EQ(RAND_bytes(bytes.data(), static_cast<int>(size)), 1);
            passed += passes(bytes) ? 1 : 0;
        }
        return passed;
    }

    std::shared_ptr<SequenceCheckerBase> checker_ =
        make_factory()->create_sequence_checker(L"nist");
};

TEST_F(NistCheckerTest, MostRandomSequencesPass) {
    const int passed = random_passes(32, 1000);
    // Six p-values at 0.01 each: roughly 95% of random sequences pass.
    EXPECT_GE(passed, 900);
    EXPECT_LT(passed, 1000);  // a checker that passes everything would not be checking
}

TEST_F(NistCheckerTest, PatternedSequencesFail) {
    for (std::uint8_t pattern : {0x00, 0xFF, 0x55, 0xAA, 0x0F, 0xCC}) {
        EXPECT_FALSE(passes(Bytes(32, pattern))) << "pattern " << int{pattern};
        EXPECT_FALSE(passes(Bytes(512, pattern))) << "long pattern " << int{pattern};
    }
}

TEST_F(NistCheckerTest, TooLittleOrNothingLoadedFails) {
    EXPECT_EQ(random_passes(15, 50), 0);  // fewer than 128 bits
    EXPECT_FALSE(passes(Bytes()));
    EXPECT_FALSE(make_factory()->create_sequence_checker(L"")->test(0));
    EXPECT_THROW(checker_->test(1), InvalidArgumentException);
}

}  // namespace
}  // namespace provider_test
