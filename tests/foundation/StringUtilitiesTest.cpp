#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/CharacterSet.h"
#include "foundation/NameComparison.h"
#include "foundation/StringRegex.h"
#include "foundation/StringReplacing.h"
#include "foundation/StringSearch.h"
#include "foundation/Utf16.h"
#include "foundation/XMLValidation.h"
#include "tests/support/CapturedDiagnostics.h"

namespace foundation {
namespace {

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string bytes(std::initializer_list<int> values) {
  std::string text;
  for (int value : values) text.push_back(static_cast<char>(value));
  return text;
}

TEST(StringUtf16Test, CountsUtf16UnitsAndReplacesIllFormedSequences) {
  struct Case {
    std::string text;
    std::size_t units;
    std::string roundTrip;
  } cases[] = {
      {"abc", 3, "abc"},
      {"é", 1, "é"},
      {kEmoji, 2, kEmoji},
      {bytes({'a', 0xFF, 'b'}), 3, "a" + kReplacement + "b"},
      {bytes({0xE2, 0x82}), 1, kReplacement},                                   // cut three-byte sequence
      {bytes({0xF0, 0x9F, 0x98}), 1, kReplacement},                             // cut four-byte sequence
      {bytes({0xED, 0xA0, 0x80}), 3, kReplacement + kReplacement + kReplacement},  // encoded surrogate
      {bytes({0xC0, 0xAF}), 2, kReplacement + kReplacement},                    // overlong "/"
      {bytes({0xF4, 0x90, 0x80, 0x80}), 4, kReplacement + kReplacement + kReplacement + kReplacement},  // past U+10FFFF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.roundTrip);
    EXPECT_EQ(utf16Length(c.text), c.units);
    EXPECT_EQ(toUtf16(c.text).size(), c.units);
    EXPECT_EQ(toUtf8(toUtf16(c.text)), c.roundTrip);
  }
}

TEST(StringUtf16Test, SubstringOfARangeThatSplitsASurrogatePairGivesReplacement) {
  const std::string text = "a" + kEmoji + "b";
  EXPECT_EQ(substringWithRange(text, {1, 2}), kEmoji);
  EXPECT_EQ(substringWithRange(text, {1, 1}), kReplacement);
  EXPECT_EQ(substringWithRange(text, {3, 1}), "b");
  EXPECT_EQ(substringWithRange(text, {4, 0}), "");
  EXPECT_EQ(substringWithRange(text, {3, 2}), std::nullopt);
  EXPECT_EQ(substringWithRange(text, {kNotFound, 0}), std::nullopt);
}

TEST(StringXMLValidationTest, RemovesExactlyTheCharactersXMLRefuses) {
  struct Case {
    std::string text;
    std::string expected;
  } cases[] = {
      {"plain \t\n\r text", "plain \t\n\r text"},
      {"a" + bytes({0xED, 0x9F, 0xBF}) + "b", "a" + bytes({0xED, 0x9F, 0xBF}) + "b"},  // U+D7FF kept
      {kReplacement, kReplacement},                                                   // U+FFFD kept
      {bytes({0xF4, 0x8F, 0xBF, 0xBF}), bytes({0xF4, 0x8F, 0xBF, 0xBF})},             // U+10FFFF kept
      {"x" + kEmoji + "y", "x" + kEmoji + "y"},
      {"a" + bytes({0xEF, 0xBF, 0xBE}) + "b", "ab"},                                  // U+FFFE removed
      {std::string("a\0b", 3), "ab"},                                                 // U+0000 removed
      {"a\x1F\x01" "b", "ab"},                                                        // controls removed
      {bytes({0x1F, 0x1F}), ""},                                                      // nothing left
      {"a" + bytes({0xFF}) + "b", "a" + kReplacement + "b"},                          // ill-formed byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(validXMLString(c.text), c.expected);
    EXPECT_EQ(isValidXMLString(c.text), c.text == c.expected);
  }
}

TEST(StringSearchTest, FindsRunsOfSetCharactersInEveryDirection) {
  using enum StringSearchOptions;
  const CharacterSet digits = CharacterSet::decimalDigits();
  const CharacterSet emoji = CharacterSet::withCharactersInString(kEmoji);
  struct Case {
    std::string text;
    CharacterSet set;
    StringSearchOptions options;
    std::optional<Range> range;
    Range expected;
  } cases[] = {
      {"ab123cd", digits, None, std::nullopt, {2, 3}},
      {"ab123cd", digits, Backwards, std::nullopt, {2, 3}},
      {"1a22", digits, Backwards, std::nullopt, {2, 2}},
      {"ab123cd", digits, Anchored, std::nullopt, kNotFoundRange},
      {"123cd", digits, Anchored, std::nullopt, {0, 3}},
      {"ab123", digits, Anchored | Backwards, std::nullopt, {2, 3}},
      {"123ab", digits, Anchored | Backwards, std::nullopt, kNotFoundRange},
      {"ab123cd", digits, None, Range{3, 99}, {3, 2}},  // range cut to the text
      {"ab123cd", digits, None, Range{0, 3}, {2, 1}},
      {"ab123cd", digits, None, Range{1, 0}, kNotFoundRange},
      {"abc", digits, None, std::nullopt, kNotFoundRange},
      {"", digits, None, std::nullopt, kNotFoundRange},
      {kEmoji + "12", digits, None, std::nullopt, {2, 2}},
      {"a" + kEmoji + kEmoji + "b", emoji, None, std::nullopt, {1, 4}},
      {"a" + kEmoji + kEmoji + "b", emoji, Backwards, std::nullopt, {1, 4}},
      {kEmoji, emoji, None, Range{1, 1}, kNotFoundRange},  // half a pair is not the character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " options " + std::to_string(static_cast<unsigned>(c.options)));
    EXPECT_EQ(rangeOfCharactersFromSet(c.text, c.set, c.options, c.range), c.expected);
  }
}

TEST(StringSearchTest, SubstringFromSetIsNoneWithoutARun) {
  EXPECT_EQ(substringFromSet("abc", CharacterSet::decimalDigits()), std::nullopt);
  EXPECT_EQ(substringFromSet("a12b3", CharacterSet::decimalDigits()), "12");
  EXPECT_EQ(substringFromSet("a12b3", CharacterSet::decimalDigits(), StringSearchOptions::Backwards), "3");
  EXPECT_EQ(substringFromSet("  x y ", CharacterSet::whitespaces().inverted()), "x");
}

TEST(StringSearchTest, RangesOfStringAreNonOverlappingAndCountUtf16Units) {
  EXPECT_EQ(rangesOfString("abababa", "aba"), (std::vector<Range>{{0, 3}, {4, 3}}));
  EXPECT_EQ(rangesOfString("a" + kEmoji + "a" + kEmoji, kEmoji), (std::vector<Range>{{1, 2}, {4, 2}}));
  EXPECT_TRUE(rangesOfString("ab", "abc").empty());
  EXPECT_TRUE(rangesOfString("ab", "").empty());
  EXPECT_TRUE(rangesOfString("ab", "x").empty());
}

TEST(StringSearchTest, RangesOfCharacterSetGiveOneRangePerCharacter) {
  const CharacterSet set = CharacterSet::withCharactersInString("1" + kEmoji);
  EXPECT_EQ(rangesOfCharacterSet("1a" + kEmoji + "1", set), (std::vector<Range>{{0, 1}, {2, 2}, {4, 1}}));
  EXPECT_TRUE(rangesOfCharacterSet("abc", set).empty());
}

TEST(StringSearchTest, FirstRangeOfStringsTakesTheEarliestAndOnTiesTheFirstListed) {
  std::string matched = "untouched";
  EXPECT_EQ(firstRangeOfStrings("abcd", {"cd", "bc"}, &matched), (Range{1, 2}));
  EXPECT_EQ(matched, "bc");
  EXPECT_EQ(firstRangeOfStrings("abc", {"ab", "abc"}, &matched), (Range{0, 2}));
  EXPECT_EQ(matched, "ab");

  matched = "untouched";
  EXPECT_EQ(firstRangeOfStrings("abc", {"x", ""}, &matched), kNotFoundRange);
  EXPECT_EQ(firstRangeOfStrings("abc", {}, &matched), kNotFoundRange);
  EXPECT_EQ(matched, "untouched");
  EXPECT_EQ(firstRangeOfStrings(kEmoji + "ab", {"b"}), (Range{3, 1}));
}

TEST(StringReplacingTest, ReplacesStringsInOrderOnTheResultOfTheStepBefore) {
  EXPECT_EQ(stringByReplacingOccurrencesOfStrings("a-b_c", {"-", "_"}, {"_", "+"}), "a+b+c");
  EXPECT_EQ(stringByReplacingOccurrencesOfStrings("aaa", {"a", ""}, {"bb", "x"}), "bbbbbb");
  EXPECT_EQ(stringByReplacingOccurrencesOfStrings("abc", {}, {}), "abc");

  testing_support::CapturedDiagnostics diagnostics;
  EXPECT_EQ(stringByReplacingOccurrencesOfStrings("abc", {"a", "b"}, {"x"}), "abc");
  EXPECT_EQ(diagnostics.messages().size(), 1u);
}

TEST(StringReplacingTest, ReplacingSetCharactersKeepsTheUtf16Length) {
  const CharacterSet digits = CharacterSet::decimalDigits();
  const CharacterSet emoji = CharacterSet::withCharactersInString(kEmoji);
  struct Case {
    std::string text;
    CharacterSet set;
    std::string replacement;
    std::string expected;
  } cases[] = {
      {"a1b22", digits, "xy", "axbxx"},
      {"abc", digits, "xy", "abc"},
      {"a" + kEmoji, emoji, "xyz", "axy"},           // two units, cut to two
      {"a" + kEmoji, emoji, "x", "axx"},             // two units, padded by repeating
      {"a1", digits, kEmoji, "a" + kReplacement},    // a cut through a pair leaves U+FFFD
      {"a1b", digits, "", "ab"},                     // nothing to pad with: deleted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " <- " + c.replacement);
    const std::string result = stringByReplacingCharactersFromSet(c.text, c.set, c.replacement);
    EXPECT_EQ(result, c.expected);
    if (!c.replacement.empty()) {
      EXPECT_EQ(utf16Length(result), utf16Length(c.text));
    }
  }
}

TEST(StringReplacingTest, JoinsComponentDescriptions) {
  EXPECT_EQ(stringFromComponents(platform::Array{platform::Value(1), platform::Value("a"), platform::Value(2.5),
                                                 platform::Value(true)},
                                 ", "),
            "1, a, 2.5, 1");
  EXPECT_EQ(stringFromComponents(platform::Array{}, ", "), "");
  EXPECT_EQ(stringFromComponents(std::vector<std::string>{"a", "b"}, "/"), "a/b");
}

TEST(StringRegexTest, FindsEveryWholeMatchInUtf16Units) {
  EXPECT_EQ(rangesOfRegexString("a1b22", "[0-9]+"), (std::vector<Range>{{1, 1}, {3, 2}}));
  EXPECT_EQ(rangesOfRegexString(kEmoji + "x" + kEmoji + "x", "x"), (std::vector<Range>{{2, 1}, {5, 1}}));
  EXPECT_EQ(rangesOfRegexString("ab", "z*"), (std::vector<Range>{{0, 0}, {1, 0}, {2, 0}}));
  EXPECT_TRUE(rangesOfRegexString("abc", std::nullopt).empty());
}

TEST(StringRegexTest, ReplacesWithTemplateReferences) {
  EXPECT_EQ(stringByReplacingOccurancesOfRegexString("John Smith", "(\\w+) (\\w+)", "$2, $1"), "Smith, John");
  EXPECT_EQ(stringByReplacingOccurancesOfRegexString("a1b22", "[0-9]", "\\$"), "a$b$$");
  EXPECT_EQ(stringByReplacingOccurancesOfRegexString("abc", std::nullopt, "x"), "abc");
  EXPECT_EQ(stringByReplacingOccurancesOfRegexString("abc", "b", std::nullopt), "abc");
}

TEST(StringRegexTest, BadPatternsAreReportedAndChangeNothing) {
  struct Case {
    const char* pattern;
    const char* replacementTemplate;
  } cases[] = {
      {"(", "x"},                // does not compile
      {"(a)", "$5"},             // refers to a missing group
      {"(a+)+$", "x"},           // backtracks without end: stopped by the work limit
  };
  const std::string text = std::string(40, 'a') + "b";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    testing_support::CapturedDiagnostics diagnostics;
    EXPECT_EQ(stringByReplacingOccurancesOfRegexString(text, c.pattern, c.replacementTemplate), text);
    ASSERT_EQ(diagnostics.messages().size(), 1u);
    EXPECT_NE(diagnostics.messages()[0].find(c.pattern), std::string::npos);
  }
  testing_support::CapturedDiagnostics diagnostics;
  EXPECT_TRUE(rangesOfRegexString(text, "(").empty());
  EXPECT_TRUE(rangesOfRegexString(text, "(a+)+$").empty());
  EXPECT_EQ(diagnostics.messages().size(), 2u);
}

TEST(StringNameComparisonTest, ComparesNamesWithoutExtensionsNumericallyAndIgnoringCaseAndWidth) {
  struct Case {
    const char* name;
    const char* other;
    int expected;
  } cases[] = {
      {"Clip 2.mov", "clip 10.mov", -1},
      {"clip 10.mxf", "Clip 9.mov", 1},
      {"Take.mov", "Take.mxf", 0},          // only the extensions differ
      {"\xEF\xBC\xA3lip 2", "clip 3", -1},  // full-width C compares as C
      {"b.mov", "a.mov", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " vs " + c.other);
    EXPECT_EQ(caseInsensitiveCompareWithNumber(c.name, c.other), c.expected);
  }
  // The localized order depends on the host's locale; these hold in every one.
  EXPECT_EQ(localizedStandardCompareWithoutPathExt("Clip 2.mov", "Clip 10.mxf"), -1);
  EXPECT_EQ(localizedStandardCompareWithoutPathExt("Take.mov", "Take.mxf"), 0);
  EXPECT_EQ(localizedStandardCompareWithoutPathExt("Take 3", "Take 3.mov"), 0);
  // Forced ordering: names that differ only in case still get an order.
  EXPECT_NE(caseInsensitiveCompareWithNumber("clip", "Clip"), 0);
  EXPECT_EQ(caseInsensitiveCompareWithNumber("clip", "Clip"), -caseInsensitiveCompareWithNumber("Clip", "clip"));
}

}  // namespace
}  // namespace foundation
