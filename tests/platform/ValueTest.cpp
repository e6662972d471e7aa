#include "platform/Value.h"

#include <gtest/gtest.h>

#include <limits>

namespace platform {
namespace {

TEST(ValueTest, NoneIsKeptApartFromEmptyValues) {
  EXPECT_TRUE(Value().isNone());
  EXPECT_FALSE(Value(std::string()).isNone());
  EXPECT_FALSE(Value(Array{}).isNone());
  EXPECT_NE(Value(), Value(""));
}

TEST(ValueTest, NumericReadsConvertLikePropertyListReaders) {
  struct Case {
    Value value;
    std::optional<std::int64_t> integer;
    std::optional<bool> boolean;
  } cases[] = {
      {Value(2.9), 2, true},
      {Value(-2.9), -2, true},
      {Value(1e300), std::numeric_limits<std::int64_t>::max(), true},
      {Value(-1e300), std::numeric_limits<std::int64_t>::min(), true},
      {Value(std::numeric_limits<double>::quiet_NaN()), 0, true},
      {Value(true), 1, true},
      {Value(0), 0, false},
      {Value("12"), std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.describe());
    EXPECT_EQ(c.value.integer(), c.integer);
    EXPECT_EQ(c.value.boolean(), c.boolean);
  }
}

TEST(ValueTest, LookupOnMissingKeyOrNonDictionaryIsNone) {
  Value dict(Dictionary{{"a", Value(1)}});
  EXPECT_EQ(dict["a"].integerOr(0), 1);
  EXPECT_TRUE(dict["b"].isNone());
  EXPECT_TRUE(Value(3)["a"].isNone());
  EXPECT_EQ(Value(3).stringOr("fallback"), "fallback");
}

}  // namespace
}  // namespace platform
