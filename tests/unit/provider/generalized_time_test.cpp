#include "generalized_time.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace ztcrypto_detail {
namespace {

TEST(GeneralizedTime, FormatsUtcAndParsesItBack) {
    const std::pair<std::time_t, const char*> rows[] = {
        {1706745599, "20240131235959Z"},   {0, "19700101000000Z"},
        {951782400, "20000229000000Z"},    {-86400, "19691231000000Z"},
        {253402300799, "99991231235959Z"},
    };
    for (const auto& [t, text] : rows) {
        EXPECT_EQ(format_generalized_time(t), text);
        EXPECT_EQ(parse_generalized_time(text), std::optional<std::time_t>(t)) << text;
    }
    EXPECT_EQ(format_generalized_time(253402300800), "");  // year 10000
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
