#include "generalized_time.h"

#include <gtest/gtest.h>

namespace ztcrypto_detail {
namespace {

TEST(GeneralizedTime, FormatsUtc) {
    EXPECT_EQ(format_generalized_time(1706745599), "20240131235959Z");
    EXPECT_EQ(format_generalized_time(0), "19700101000000Z");
    EXPECT_EQ(format_generalized_time(951782400), "20000229000000Z");
    EXPECT_EQ(format_generalized_time(253402300800), "");  // year 10000
}

TEST(GeneralizedTime, ParsesWhatItFormats) {
    for (std::time_t t : {std::time_t{0}, std::time_t{1706745599}, std::time_t{951782400},
                          std::time_t{-86400}, std::time_t{253402300799}}) {
        const auto parsed = parse_generalized_time(format_generalized_time(t));
        ASSERT_TRUE(parsed.has_value()) << t;
        EXPECT_EQ(*parsed, t);
    }
}

TEST(GeneralizedTime, RefusesAnythingElse) {
    for (const char* text :
         {"", "20240131235959", "20240131235959z", "2024013123595Z", "202401312359590Z",
          "20240230000000Z", "20230229000000Z", "20241301000000Z", "20240100000000Z",
          "20240131240000Z", "20240131236000Z", "20240131235960Z", "2024-131235959Z",
          "00000101000000Z", "2024013123595+Z"}) {
        EXPECT_FALSE(parse_generalized_time(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace ztcrypto_detail
