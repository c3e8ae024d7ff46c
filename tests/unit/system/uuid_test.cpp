#include "system/uuid.h"

#include <gtest/gtest.h>

namespace {

const std::vector<unsigned char> kRaw = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                                         0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};
const char kText[] = "123e4567-e89b-12d3-a456-426614174000";

TEST(UuidValue, ParsesEitherCaseIntoLibuuidLayout) {
    EXPECT_EQ(Uuid().str(), "00000000-0000-0000-0000-000000000000");
    Uuid lower_case;
    ASSERT_TRUE(lower_case.parse(kText));
    EXPECT_EQ(lower_case.get(), kRaw);
    EXPECT_EQ(lower_case.str(), kText);
    EXPECT_EQ(lower_case.upper(), "123E4567-E89B-12D3-A456-426614174000");
    Uuid upper_case;
    ASSERT_TRUE(upper_case.parse("123E4567-E89B-12D3-A456-426614174000"));
    EXPECT_EQ(upper_case, lower_case);
}

TEST(UuidValue, RefusesMalformedTextOrBytesAndKeepsValue) {
    Uuid id(kRaw);
    const std::string malformed[] = {"",
                                     "123e4567e89b12d3a456426614174000",
                                     "123e4567-e89b-12d3-a456-42661417400",
                                     "123e4567-e89b-12d3-a456-4266141740000",
                                     "123e4567-e89b-12d3-a456-42661417400g",
                                     std::string("123e4567-e89b-12d3-a456-426614174000\0", 37)};
    for (const auto& bad : malformed) {
        EXPECT_FALSE(id.parse(bad)) << bad;
        EXPECT_EQ(id.get(), kRaw);
    }
    // Sixteen bytes or more give a value (the first sixteen); fewer give the null UUID.
    auto longer = kRaw;
    longer.push_back(0xAA);
    EXPECT_EQ(Uuid(longer).get(), kRaw);
    const std::vector<unsigned char> short_raw(kRaw.begin(), kRaw.begin() + 15);
    EXPECT_TRUE(Uuid(short_raw).is_null());
    Uuid assigned(kRaw);
    assigned = std::vector<unsigned char>{};
    EXPECT_TRUE(assigned.is_null());
}

TEST(UuidValue, GenerateMakesDistinctRandomVersion4) {
    Uuid a;
    Uuid b;
    a.generate();
    b.generate();
    EXPECT_NE(a, b);
    EXPECT_EQ(a.get()[6] >> 4, 4);       // version 4: random
    EXPECT_EQ(a.get()[8] & 0xC0, 0x80);  // RFC 4122 variant
}

}  // namespace
