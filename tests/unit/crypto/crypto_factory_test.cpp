#include "crypto/crypto_factory.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "crypto/asymmetric_encryptor.h"
#include "crypto/checker.h"
#include "crypto/crypto_error.h"
#include "crypto/crypto_service.h"
#include "crypto/genrand.h"
#include "crypto/hasher.h"
#include "crypto/randomizer.h"
#include "fake_provider.h"

namespace {

const std::vector<std::uint8_t> kSeed(32, 0x42);

TEST(CryptoFactory, FailedInitializationHoldsNoFactoryAndAFailedCheckIsNotInitialized) {
    // A provider that throws, also after an earlier success, and a null seed of non-zero
    // length, which the provider refuses.
    bool fail = false;
    crypto_factory throwing([&fail] {
        fake::script s;
        s.throw_in_initialize = fail;
        return std::make_shared<fake::scripted_factory>(s);
    });
    ASSERT_TRUE(throwing.initialize(kSeed));
    fail = true;
    EXPECT_FALSE(throwing.initialize(kSeed));
    crypto_factory null_seed;
    EXPECT_FALSE(null_seed.initialize(nullptr, 5));
    for (const crypto_factory* f : {&throwing, &null_seed}) {
        EXPECT_FALSE(f->is_initialized());
        EXPECT_EQ(f->self(), nullptr);
    }

    // A factory that cannot give a random generator keeps its provider factory but must
    // not pass for initialized, even though the one before it did.
    const auto refuse = std::make_shared<bool>(false);
    crypto_factory f = fake::factory_with([&](fake::script& s) { s.refuse_random = refuse; });
    ASSERT_TRUE(f.initialize(kSeed));
    *refuse = true;
    EXPECT_FALSE(f.initialize(kSeed));
    EXPECT_NE(f.self(), nullptr);
    EXPECT_FALSE(f.is_initialized());
    EXPECT_FALSE(f.check());
    EXPECT_FALSE(crypto_factory().check());
}

TEST(CryptoFactory, MovedFromFactoryIsNotInitialized) {
    crypto_factory f;
    ASSERT_TRUE(f.initialize(kSeed));
    crypto_factory moved(std::move(f));
    crypto_factory assigned;
    assigned = std::move(moved);
    EXPECT_TRUE(assigned.is_initialized());
    for (const crypto_factory* from : {&f, &moved}) {
        EXPECT_FALSE(from->is_initialized());  // NOLINT(bugprone-use-after-move)
        EXPECT_EQ(from->self(), nullptr);      // NOLINT(bugprone-use-after-move)
    }
}

TEST(CryptoFactory, EveryUserRefusesAnUninitializedFactory) {
    using init = std::function<bool(const crypto_factory&, std::error_code&)>;
    const std::pair<const char*, init> users[] = {
        {"Randomizer", [](auto& f, auto& ec) { return Randomizer().initialize(f, ec); }},
        {"RandomChecker", [](auto& f, auto& ec) { return RandomChecker().initialize(f, ec); }},
        {"Hasher", [](auto& f, auto& ec) { return Hasher().initialize(f, ec); }},
        {"asymmetric_encryptor",
         [](auto& f, auto& ec) { return asymmetric_encryptor().initialize(f, ec); }},
        {"crypto_service", [](auto& f, auto& ec) { return crypto_service().initialize(f, ec); }},
        {"get_random_vector",
         [](auto& f, auto& ec) { return !misc::get_random_vector(f, ec).empty(); }},
    };
    const crypto_factory empty;
    for (const auto& [name, initialize] : users) {
        std::error_code ec;
        EXPECT_FALSE(initialize(empty, ec)) << name;
        EXPECT_EQ(ec, crypto_error::factory_not_initialized) << name;
    }
}

}  // namespace
