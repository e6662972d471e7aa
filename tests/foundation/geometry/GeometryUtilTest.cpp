#include "foundation/geometry/GeometryUtil.h"

#include <gtest/gtest.h>

#include <cmath>

namespace foundation {
namespace {

TEST(GeometryUtilTest, EvenAndRoundedValues) {
  struct Case {
    double in, even, ceiling;
  } cases[] = {{3, 4, 3}, {1, 2, 1}, {-1, -2, -1}, {2.9, 2, 3}, {5, 6, 5}, {0.4, 0, 1}, {-3, -4, -3}, {-0.5, -0, -0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(GeometryUtil::x2Point({c.in, c.in}), (Point{c.even, c.even}));
    EXPECT_EQ(GeometryUtil::x2Size({c.in, c.in}), (Size{c.even, c.even}));
    EXPECT_EQ(GeometryUtil::roundedPoint({c.in, c.in}).x, c.ceiling);
  }
  EXPECT_EQ(GeometryUtil::x2Point({3, -3}), (Point{4, -4}));
  EXPECT_EQ(GeometryUtil::x2Point({2.9, 0.4}), (Point{2, 0}));
  const Rect rounded = GeometryUtil::roundedRect({{0.2, -0.5}, {9.1, 3}});
  EXPECT_EQ(rounded, (Rect{{1, 0}, {10, 3}}));
  EXPECT_TRUE(std::signbit(rounded.origin.y));
  EXPECT_EQ(GeometryUtil::x2Rect({{3, 1}, {2.9, 5}}), (Rect{{4, 2}, {2, 6}}));
}

TEST(GeometryUtilTest, RectanglesFromCentresOriginsAndSizes) {
  EXPECT_EQ(GeometryUtil::CGRectMakeWithCenter({10, 10}, {4, 6}), (Rect{{8, 7}, {4, 6}}));
  EXPECT_EQ(GeometryUtil::CGRectTranslate({{1, 2}, {3, 4}}, 10, -10), (Rect{{11, -8}, {3, 4}}));
  EXPECT_EQ(GeometryUtil::CGRectFromCGSize({3, 4}), (Rect{{0, 0}, {3, 4}}));
  EXPECT_EQ(GeometryUtil::CGRectMakeWithOrigin({1, 2}, {3, 4}), (Rect{{1, 2}, {3, 4}}));
  EXPECT_EQ(GeometryUtil::CGRectWithFromRect({{100, 100}, {-4, 6}}, {0, 0}), (Rect{{-2, -3}, {4, 6}}));
  auto rect = CVNRect::rectFromCGRect({{1, 2}, {3, 4}});
  rect->setRectValue({{5, 6}, {7, 8}});
  EXPECT_EQ(rect->rectValue(), (Rect{{5, 6}, {7, 8}}));
}

}  // namespace
}  // namespace foundation
