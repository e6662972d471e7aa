#include "platform/media/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace platform::media {
namespace {

using Method = MediaTimeRoundingMethod;

TEST(MediaTimeTest, ConvertsScaleByEachRoundingMethod) {
  struct Case {
    std::int64_t value;
    std::int32_t from, to;
    Method method;
    std::int64_t expected;
  } cases[] = {
      // 7/10 to scale 4 is 2.8; -7/10 is -2.8; 5/10 to 4 is exactly 2.0; 3/8 to 4 is 1.5.
      {7, 10, 4, Method::RoundHalfAwayFromZero, 3},
      {-7, 10, 4, Method::RoundHalfAwayFromZero, -3},
      {3, 8, 4, Method::RoundHalfAwayFromZero, 2},
      {-3, 8, 4, Method::RoundHalfAwayFromZero, -2},
      {7, 10, 4, Method::RoundTowardZero, 2},
      {-7, 10, 4, Method::RoundTowardZero, -2},
      {7, 10, 4, Method::RoundAwayFromZero, 3},
      {-7, 10, 4, Method::RoundAwayFromZero, -3},
      {7, 10, 4, Method::RoundTowardPositiveInfinity, 3},
      {-7, 10, 4, Method::RoundTowardPositiveInfinity, -2},
      {7, 10, 4, Method::RoundTowardNegativeInfinity, 2},
      {-7, 10, 4, Method::RoundTowardNegativeInfinity, -3},
      {5, 10, 4, Method::RoundAwayFromZero, 2},
      // QuickTime: toward zero when the scale shrinks ...
      {7, 10, 4, Method::QuickTime, 2},
      {-7, 10, 4, Method::QuickTime, -2},
      // ... away from zero when it grows (1/3 at scale 10 is 3.33) ...
      {1, 3, 10, Method::QuickTime, 4},
      {-1, 3, 10, Method::QuickTime, -4},
      // ... and a negative time never becomes 0.
      {-1, 1000, 1, Method::QuickTime, -1},
      {1, 1000, 1, Method::QuickTime, 0},
      {-1, 1000, 1, Method::RoundTowardZero, 0},
      // Exact conversions are the same whatever the method.
      {1001, 30000, 90000, Method::QuickTime, 3003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << "/" << c.from << " -> " << c.to << " method "
                                    << static_cast<int>(c.method));
    const MediaTime converted = MediaTime::make(c.value, c.from).convertScale(c.to, c.method);
    ASSERT_TRUE(converted.isNumeric());
    EXPECT_EQ(converted.value, c.expected);
    EXPECT_EQ(converted.timeScale, c.to);
    EXPECT_EQ(converted.has(MediaTimeFlags::HasBeenRounded), c.value * c.to % c.from != 0);
  }
}

TEST(MediaTimeTest, NonNumericTimesAndScaleZero) {
  EXPECT_FALSE(MediaTime::make(1, 0).isValid());
  EXPECT_FALSE(MediaTime::make(5, 25).convertScale(0, Method::Default).isValid());
  EXPECT_FALSE(MediaTime::make(5, 25).convertScale(-3, Method::Default).isValid());
  EXPECT_TRUE(MediaTime::positiveInfinity().convertScale(600, Method::Default).isPositiveInfinity());
  EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
  EXPECT_TRUE(std::isnan(MediaTime::indefinite().seconds()));
  EXPECT_EQ(MediaTime::negativeInfinity().seconds(), -INFINITY);
  EXPECT_DOUBLE_EQ(MediaTime::make(1001, 30000).seconds(), 1001.0 / 30000.0);
  // Beyond 64 bits a conversion becomes infinite, not wrapped.
  EXPECT_TRUE(MediaTime::make(INT64_MAX / 2, 1).convertScale(1000, Method::Default).isPositiveInfinity());
  EXPECT_TRUE(MediaTime::makeWithSeconds(NAN, 600).isValid() == false);
  EXPECT_EQ(MediaTime::makeWithSeconds(-1.5, 2).value, -3);
}

TEST(MediaTimeTest, ComparesAcrossScalesAndKinds) {
  EXPECT_EQ(MediaTime::make(1, 25), MediaTime::make(40, 1000));
  EXPECT_LT(MediaTime::make(1001, 30000), MediaTime::make(1, 25));
  EXPECT_LT(MediaTime::invalid(), MediaTime::negativeInfinity());
  EXPECT_LT(MediaTime::negativeInfinity(), MediaTime::make(INT64_MIN, 1));
  EXPECT_LT(MediaTime::make(INT64_MAX, 1), MediaTime::positiveInfinity());
  EXPECT_LT(MediaTime::positiveInfinity(), MediaTime::indefinite());
  EXPECT_EQ(MediaTime::indefinite(), MediaTime::indefinite());
  EXPECT_LT(MediaTime::makeWithEpoch(100, 1, 0), MediaTime::makeWithEpoch(1, 1, 1));
  EXPECT_EQ(minimum(MediaTime::make(3, 1), MediaTime::make(2, 1)), MediaTime::make(2, 1));
}

TEST(MediaTimeTest, AddsAndSubtracts) {
  const MediaTime sum = MediaTime::make(1, 25) + MediaTime::make(1001, 30000);
  EXPECT_EQ(sum.timeScale, 30000);
  EXPECT_EQ(sum.value, 1200 + 1001);
  EXPECT_EQ(MediaTime::make(1, 3) - MediaTime::make(1, 2), MediaTime::make(-1, 6));
  EXPECT_TRUE((MediaTime::positiveInfinity() + MediaTime::make(1, 1)).isPositiveInfinity());
  EXPECT_TRUE((MediaTime::positiveInfinity() - MediaTime::positiveInfinity()).isIndefinite());
  EXPECT_TRUE((MediaTime::positiveInfinity() - MediaTime::negativeInfinity()).isPositiveInfinity());
  EXPECT_FALSE((MediaTime::invalid() + MediaTime::make(1, 1)).isValid());
  // Scales whose common multiple does not fit go to the larger scale, rounded.
  const MediaTime odd = MediaTime::make(1, 2147483647) + MediaTime::make(1, 2147483646);
  EXPECT_EQ(odd.timeScale, 2147483647);
  EXPECT_EQ(odd.value, 2);
  EXPECT_EQ(multiply(MediaTime::make(1001, 30000), 3), MediaTime::make(3003, 30000));
}

}  // namespace
}  // namespace platform::media
