#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "test_support.h"

namespace provider_test {
namespace {

TEST(FactoryTest, RefusesUnknownNamesAndRandomnessBeforeInitialize) {
    auto f = make_factory();
    CryptoFactoryDef bare;
    const std::pair<std::function<void()>, int> cases[] = {
        {[&] { f->create_sequence_checker(L"diehard"); }, Exception::unknown_algorithm},
        {[&] { f->create_random(L"nist"); }, Exception::unknown_algorithm},
        {[&] { f->create_hash(L"md5"); }, Exception::unknown_algorithm},
        {[&] { f->create_symmetric(L"des"); }, Exception::unknown_algorithm},
        {[&] { f->create_key_agreement(L"dh"); }, Exception::unknown_algorithm},
        {[&] { f->create_asymmetric(L"rsa"); }, Exception::unknown_algorithm},
        {[&] { bare.create_random(L""); }, Exception::not_initialized},
        {[&] { bare.create_symmetric(L""); }, Exception::not_initialized},
        {[&] { bare.create_key_agreement(L""); }, Exception::not_initialized},
        {[&] { bare.create_asymmetric(L""); }, Exception::not_initialized},
        {[&] { bare.initialize(nullptr, 4); }, Exception::invalid_argument},
    };
    for (const auto& [call, code] : cases) {
        expect_code(call, code);
    }
    EXPECT_NE(bare.create_hash(L""), nullptr);  // hashing needs no randomness
    bare.initialize(nullptr, 0);
    EXPECT_NE(bare.create_random(L""), nullptr);
}

TEST(FactoryTest, RandomDrawsDifferEvenBetweenEquallySeededFactories) {
    // The same personalisation still draws different bytes: the seed comes from the system.
    auto random = make_factory()->create_random(L"");
    Bytes a(64), b(64), c(64), large(100000);
    random->generate(a.data(), a.size());
    random->generate(b.data(), b.size());
    make_factory()->create_random(L"")->generate(c.data(), c.size());
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    random->generate(large.data(), large.size());
    EXPECT_NE(Bytes(large.end() - 64, large.end()), Bytes(64, 0));
    expect_invalid_argument([&] { random->generate(nullptr, 8); }, "buffer");
    random->generate(nullptr, 0);
}

TEST(FactoryTest, ObjectsOutliveTheirFactory) {
    std::shared_ptr<RandomBase> random;
    std::shared_ptr<DiffieHellmanBase> agreement;
    {
        auto factory = make_factory();
        random = factory->create_random(L"");
        agreement = factory->create_key_agreement(L"");
    }
    Bytes bytes(16);
    random->generate(bytes.data(), bytes.size());
    EXPECT_EQ(agreement->create_client_key_material().size(), 32u);
}

// The digest itself is checked through the daemon's hasher.
TEST(FactoryTest, HashNeedsInitializeAndAnOutput) {
    auto hash = make_factory()->create_hash(L"");
    Bytes out(32);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_THROW(hash->digest(abc, 3, out.data()), Exception);
    hash->initialize();
    EXPECT_THROW(hash->digest(abc, 3, nullptr), InvalidArgumentException);
}

#if defined(__SANITIZE_ADDRESS__)
#define ZT_ASAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZT_ASAN_BUILD 1
#endif
#endif

TEST(RawMemoryTest, ImpossibleAllocationThrowsTheProvidersException) {
#ifdef ZT_ASAN_BUILD
    GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations instead of throwing";
#endif
    try {
        RawMemoryDefault huge(SIZE_MAX);
        FAIL() << "allocated SIZE_MAX bytes";
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), Exception::backend_failure);
        EXPECT_NE(e.inner(), nullptr);
    }
}

TEST(RawMemoryTest, OwnedBlocksMoveAndViewsDoNotOwn) {
    const Bytes bytes = {1, 2, 3};
    RawMemoryDefault copy = RawMemoryDefault::copy_of(bytes.data(), bytes.size());
    RawMemoryDefault moved(std::move(copy));
    EXPECT_EQ(copy.data(), nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state
    EXPECT_NE(moved.data(), bytes.data());
    EXPECT_EQ(moved.to_vector(), bytes);
    moved = RawMemoryDefault::view(bytes.data(), bytes.size());
    EXPECT_FALSE(moved.owns());
    EXPECT_EQ(moved.data(), bytes.data());
}

}  // namespace
}  // namespace provider_test
