// The large counters' text and the leading characters drawn dimmed.

#include <gtest/gtest.h>

#include <cmath>

#include "app/playlist/ElapsedFormatter.h"

namespace {

using app::ElapsedFormatter;

TEST(ElapsedFormatterTest, FormatsWholeSecondsUpTo99Hours) {
  const struct {
    double seconds;
    const char* text;
  } cases[] = {
      {3725.9, "01:02:05"},   {356400.0, "99:00:00"}, {356400.5, "--:--:--:--"},
      {0.0, "00:00:00"},      {-61.0, "-00:01:01"},   {std::nan(""), "--:--:--:--"},
  };
  for (const auto& c : cases) EXPECT_EQ(ElapsedFormatter::stringForObjectValue(c.seconds), c.text) << c.seconds;
}

TEST(ElapsedFormatterTest, DimsTheLeadingZeros) {
  EXPECT_EQ(ElapsedFormatter::dimmedLeadingCharacterCount("00:00:07"), 5u);
  EXPECT_EQ(ElapsedFormatter::dimmedLeadingCharacterCount("00:12:34"), 3u);
  EXPECT_EQ(ElapsedFormatter::dimmedLeadingCharacterCount("00:00:00"), 5u);
  EXPECT_EQ(ElapsedFormatter::dimmedLeadingCharacterCount("12:00:00"), 0u);
}

}  // namespace
