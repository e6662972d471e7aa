#include "platform/NumberFormatter.h"

#include <gtest/gtest.h>

#include <variant>

namespace platform {
namespace {

NumberFormatter make(std::string_view locale) {
  auto formatter = NumberFormatter::create(locale);
  if (!formatter) {
    ADD_FAILURE() << formatter.error().describe();
    formatter = NumberFormatter::create("en_US_POSIX");
  }
  return std::move(formatter).value();
}

TEST(NumberFormatterTest, FormatsInTheLocaleWithGroupingAndFractionBounds) {
  struct Case {
    const char* locale;
    bool grouping;
    int minFraction;
    int maxFraction;
    std::variant<double, std::int64_t> number;
    const char* expected;
  } cases[] = {
      {"en_US", true, 0, 3, 1234567.891, "1,234,567.891"},
      {"en_US", false, 0, 3, 1234567.891, "1234567.891"},
      {"en_US", true, 0, 3, -1234.5, "-1,234.5"},
      {"de_DE", true, 0, 3, 1234567.891, "1.234.567,891"},
      {"de_CH", true, 0, 3, 1234567.891, "1\u2019234\u2019567.891"},
      {"fr_FR", true, 0, 3, 1234.5, "1\u202f234,5"},
      {"en_US", true, 2, 2, 2.5, "2.50"},
      {"en_US", true, 0, 1, 0.123456, "0.1"},
      // Rounding is half-to-even.
      {"en_US", true, 0, 0, 2.5, "2"},
      {"en_US", true, 0, 0, 3.5, "4"},
      // Integers are not routed through a double (2^53 + 1 would become ...992).
      {"en_US", false, 0, 3, std::int64_t{9007199254740993}, "9007199254740993"},
      {"de_DE", true, 0, 3, std::int64_t{-1000000}, "-1.000.000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " grouping=" + std::to_string(c.grouping) + " fraction " +
                 std::to_string(c.minFraction) + ".." + std::to_string(c.maxFraction) + " -> " + c.expected);
    NumberFormatter formatter = make(c.locale);
    formatter.setUsesGroupingSeparator(c.grouping);
    formatter.setMaximumFractionDigits(c.maxFraction);
    formatter.setMinimumFractionDigits(c.minFraction);
    std::visit([&](auto number) { EXPECT_EQ(formatter.stringFromNumber(number), c.expected); }, c.number);
  }
}

TEST(NumberFormatterTest, KeepsFractionBoundsConsistent) {
  NumberFormatter formatter = make("en_US");
  formatter.setMinimumFractionDigits(4);
  EXPECT_EQ(formatter.maximumFractionDigits(), 4);
  formatter.setMaximumFractionDigits(1);
  EXPECT_EQ(formatter.minimumFractionDigits(), 1);
  EXPECT_EQ(formatter.stringFromNumber(1.25), "1.2");
}

TEST(NumberFormatterTest, ParsesWholeStringsOnly) {
  struct Case {
    const char* locale;
    const char* text;
    std::optional<double> expected;
  } cases[] = {
      {"en_US", "1,234.5", 1234.5},
      {"en_US", "1234.5", 1234.5},
      {"en_US", "-0.25", -0.25},
      {"de_DE", "1.234,5", 1234.5},
      {"de_CH", "1\u2019234.5", 1234.5},
      {"en_US", "", std::nullopt},
      {"en_US", "abc", std::nullopt},
      {"en_US", "12abc", std::nullopt},
      {"en_US", "1.2.3", std::nullopt},
      {"en_US", "1,2,3", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.locale) + " '" + c.text + "'");
    auto parsed = make(c.locale).numberFromString(c.text);
    if (c.expected) {
      ASSERT_TRUE(parsed) << parsed.error().describe();
      EXPECT_DOUBLE_EQ(*parsed, *c.expected);
    } else {
      ASSERT_FALSE(parsed) << *parsed;
      EXPECT_TRUE(parsed.error().is(kNumberFormatterErrorDomain, NumberFormatterErrorCode::ParseFailed));
    }
  }
}

TEST(NumberFormatterTest, RoundTripsItsOwnOutput) {
  NumberFormatter formatter = make("de_CH");
  formatter.setMaximumFractionDigits(6);
  for (double number : {0.0, -1.5, 1234567.125, 0.000001}) {
    SCOPED_TRACE(number);
    auto parsed = formatter.numberFromString(formatter.stringFromNumber(number));
    ASSERT_TRUE(parsed);
    EXPECT_DOUBLE_EQ(*parsed, number);
  }
}

TEST(LocalizedStandardCompareTest, OrdersNamesAsPeopleExpect) {
  struct Case {
    const char* a;
    const char* b;
    const char* locale;
    int expected;
  } cases[] = {
      {"Clip 2", "Clip 10", "en_US", -1},
      {"clip 2", "Clip 10", "en_US", -1},      // case does not outrank numbers
      {"abc", "ABD", "en_US", -1},             // byte order would put "ABD" first
      {"Take 007", "Take 8", "en_US", -1},
      {"a", "A", "en_US", -1},                 // case only breaks ties
      {"same", "same", "en_US", 0},
      {"\u00e9t\u00e9", "e\u0301te\u0301", "en_US", 0},  // composed and decomposed forms
      {"resume", "R\u00e9sum\u00e9", "en_US", -1},
      {"\u00f6l", "zebra", "en_US", -1},
      {"zebra", "\u00f6l", "sv_SE", -1},       // Swedish sorts ö after z
      {"", "a", "en_US", -1},
      {"abc", "ABD", "en_US_POSIX", -1},       // the C locale ignores case as well
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("'") + c.a + "' vs '" + c.b + "' in " + c.locale);
    EXPECT_EQ(localizedStandardCompare(c.a, c.b, c.locale), c.expected);
    EXPECT_EQ(localizedStandardCompare(c.b, c.a, c.locale), -c.expected);
  }
}

}  // namespace
}  // namespace platform
