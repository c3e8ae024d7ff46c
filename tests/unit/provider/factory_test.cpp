#include <gtest/gtest.h>

#include <cstdint>

#include "test_support.h"

namespace provider_test {
namespace {

TEST(FactoryTest, UnknownAlgorithmNamesThrow) {
    auto factory = make_factory();
    auto expect_unknown = [](auto create) {
        try {
            create();
            ADD_FAILURE() << "an unknown name was accepted";
        } catch (const Exception& e) {
            EXPECT_EQ(e.code(), Exception::unknown_algorithm);
        }
    };
    expect_unknown([&] { factory->create_sequence_checker(L"diehard"); });
    expect_unknown([&] { factory->create_random(L"nist"); });
    expect_unknown([&] { factory->create_hash(L"md5"); });
    expect_unknown([&] { factory->create_symmetric(L"des"); });
    expect_unknown([&] { factory->create_key_agreement(L"dh"); });
    expect_unknown([&] { factory->create_asymmetric(L"rsa"); });
}

TEST(FactoryTest, DefaultAndNistCheckerAreAvailable) {
    auto factory = make_factory();
    EXPECT_NE(factory->create_sequence_checker(L"nist"), nullptr);
    EXPECT_NE(factory->create_sequence_checker(L""), nullptr);
}

TEST(FactoryTest, UninitializedFactoryRefusesObjectsThatNeedRandomness) {
    CryptoFactoryDef factory;
    try {
        factory.create_random(L"");
        FAIL() << "created a generator without initialize";
    } catch (const Exception& e) {
        EXPECT_EQ(e.code(), Exception::not_initialized);
    }
    EXPECT_THROW(factory.create_symmetric(L""), Exception);
    EXPECT_THROW(factory.create_key_agreement(L""), Exception);
    EXPECT_THROW(factory.create_asymmetric(L""), Exception);
    EXPECT_NE(factory.create_hash(L""), nullptr);
}

TEST(FactoryTest, InitializeRefusesANullSeedWithASize) {
    CryptoFactoryDef factory;
    EXPECT_THROW(factory.initialize(nullptr, 4), InvalidArgumentException);
    factory.initialize(nullptr, 0);
    EXPECT_NE(factory.create_random(L""), nullptr);
}

TEST(FactoryTest, RandomDrawsDifferAndFillTheBuffer) {
    auto factory = make_factory();
    auto random = factory->create_random(L"");
    Bytes a(64, 0);
    Bytes b(64, 0);
    random->generate(a.data(), a.size());
    random->generate(b.data(), b.size());
    EXPECT_NE(a, b);
    EXPECT_NE(a, Bytes(64, 0));
    // Two factories with the same personalisation still draw different bytes: the seed
    // comes from the operating system.
    auto other = make_factory()->create_random(L"");
    Bytes c(64, 0);
    other->generate(c.data(), c.size());
    EXPECT_NE(a, c);
    Bytes large(100000, 0);
    random->generate(large.data(), large.size());
    EXPECT_NE(Bytes(large.end() - 64, large.end()), Bytes(64, 0));
}

TEST(FactoryTest, RandomRefusesANullBuffer) {
    auto random = make_factory()->create_random(L"");
    try {
        random->generate(nullptr, 8);
        FAIL() << "filled a null buffer";
    } catch (const InvalidArgumentException& e) {
        EXPECT_EQ(e.argument(), "buffer");
    }
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

TEST(FactoryTest, HashIsSha256AfterInitialize) {
    auto hash = make_factory()->create_hash(L"");
    EXPECT_EQ(hash->size(), 32u);
    EXPECT_FALSE(hash->is_initialized());
    Bytes out(32);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_THROW(hash->digest(abc, 3, out.data()), Exception);
    hash->initialize();
    ASSERT_TRUE(hash->is_initialized());
    hash->digest(abc, 3, out.data());
    const Bytes expected = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                            0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                            0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(out, expected);
    hash->digest(nullptr, 0, out.data());
    EXPECT_EQ(out[0], 0xe3);  // SHA-256 of nothing starts e3b0c442...
    EXPECT_THROW(hash->digest(abc, 3, nullptr), InvalidArgumentException);
}

TEST(ExceptionTest, CarriesMessageCodeMethodInnerAndData) {
    const auto inner = std::make_exception_ptr(std::runtime_error("cause"));
    const Exception e("went wrong", 42, "Thing::do", inner, {1, 2});
    EXPECT_STREQ(e.what(), "Thing::do: went wrong");
    EXPECT_EQ(e.message(), "went wrong");
    EXPECT_EQ(e.code(), 42);
    EXPECT_EQ(e.method(), "Thing::do");
    EXPECT_EQ(e.inner(), inner);
    EXPECT_EQ(e.data(), Bytes({1, 2}));
    const InvalidArgumentException bad("iv_rawPtr", "SymmetricEncrypter::set_Iv", "is null");
    EXPECT_EQ(bad.argument(), "iv_rawPtr");
    EXPECT_EQ(bad.code(), Exception::invalid_argument);
    EXPECT_NE(std::string(bad.what()).find("iv_rawPtr"), std::string::npos);
}

// AddressSanitizer aborts on impossible allocations instead of letting new[] throw.
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
    RawMemoryDefault owned(8);
    EXPECT_TRUE(owned.owns());
    EXPECT_EQ(owned.to_vector(), Bytes(8, 0));
    RawMemoryDefault moved(std::move(owned));
    EXPECT_EQ(moved.size(), 8u);
    EXPECT_EQ(owned.size(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state
    EXPECT_EQ(owned.data(), nullptr);
    const Bytes bytes = {1, 2, 3};
    RawMemoryDefault view = RawMemoryDefault::view(bytes.data(), bytes.size());
    EXPECT_FALSE(view.owns());
    EXPECT_EQ(view.data(), bytes.data());
    RawMemoryDefault copy = RawMemoryDefault::copy_of(bytes.data(), bytes.size());
    EXPECT_TRUE(copy.owns());
    EXPECT_NE(copy.data(), bytes.data());
    EXPECT_EQ(copy.to_vector(), bytes);
    copy = std::move(view);
    EXPECT_FALSE(copy.owns());
    EXPECT_EQ(copy.to_vector(), bytes);
}

}  // namespace
}  // namespace provider_test
