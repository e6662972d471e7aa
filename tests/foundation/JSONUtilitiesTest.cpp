#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "foundation/CVNJSONUtilities.h"

namespace foundation {
namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;
using namespace std::chrono_literals;

platform::Date march1st(std::chrono::microseconds timeOfDay) {
  return platform::Date(std::chrono::sys_days(std::chrono::year(2024) / 3 / 1)) + timeOfDay;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(JSONUtilitiesTest, DatesUseTheFixedGMTForm) {
  const platform::Date date = march1st(12h + 34min + 56s + 789ms);
  EXPECT_EQ(CVNJSONUtilities::JSONStringWithDate(date), "2024-03-01T12:34:56+0000");
  EXPECT_EQ(CVNJSONUtilities::dateWithJSONString("2024-03-01T12:34:56+0000"), march1st(12h + 34min + 56s));
  EXPECT_EQ(CVNJSONUtilities::dateWithJSONString("2024-03-01T13:34:56+0100"), march1st(12h + 34min + 56s));
  EXPECT_EQ(CVNJSONUtilities::dateWithJSONString("2024-03-01 12:34:56"), std::nullopt);
  EXPECT_EQ(CVNJSONUtilities::dateWithJSONString(""), std::nullopt);
  EXPECT_EQ(CVNJSONUtilities::JSONStringWithDate(std::nullopt), std::nullopt);
  EXPECT_EQ(CVNJSONUtilities::safeJSONStringWithDate(std::nullopt), "");
  EXPECT_EQ(CVNJSONUtilities::safeJSONStringWithoutTimezoneWithDate(std::nullopt), "");

  const std::string local = CVNJSONUtilities::safeJSONStringWithoutTimezoneWithDate(date);
  EXPECT_EQ(local.size(), std::string("2024-03-01 12:34:56").size());
  EXPECT_EQ(CVNJSONUtilities::dateWithJSONStringWithoutTimezone(local), march1st(12h + 34min + 56s));
}

TEST(JSONUtilitiesTest, SanitizingReplacesNaNAndDatesAtEveryDepth) {
  const platform::Date date = march1st(6h);
  const Value input(Array{Value(kNaN), Value(date), Value(Dictionary{{"d", Value(date)}, {"n", Value(kNaN)}}),
                          Value("text"), Value(3), Value()});
  const Value expected(Array{Value(0.0), Value("2024-03-01T06:00:00+0000"),
                             Value(Dictionary{{"d", Value("2024-03-01T06:00:00+0000")}, {"n", Value(0.0)}}),
                             Value("text"), Value(3), Value()});
  EXPECT_EQ(CVNJSONUtilities::JSONSanitizedContainer(input), expected);
}

TEST(JSONUtilitiesTest, WritesSanitizedContainersThatReadBack) {
  const Value container(Dictionary{{"when", Value(march1st(0s))},
                                   {"ratio", Value(kNaN)},
                                   {"list", Value(Array{Value(1), Value(true), Value()})},
                                   {"name", Value("Clip \"1\" é")}});
  std::optional<platform::Error> error = platform::Error("stale", 1, "from before");
  const std::optional<std::string> json = CVNJSONUtilities::JSONDataWithContainer(container, &error);
  ASSERT_TRUE(json.has_value());
  EXPECT_EQ(error, std::nullopt);
  EXPECT_NE(json->find('\n'), std::string::npos);  // pretty-printed
  EXPECT_EQ(CVNJSONUtilities::containerWithJSONData(*json), CVNJSONUtilities::JSONSanitizedContainer(container));
}

TEST(JSONUtilitiesTest, ValuesJSONCannotHoldFailTheWrite) {
  struct Case {
    Value container;
    const char* reason;
  } cases[] = {
      {Value(Array{Value(platform::Data{1, 2})}), "Invalid type in JSON write (data)"},
      {Value(Array{Value(std::numeric_limits<double>::infinity())}), "Invalid number value (infinite) in JSON write"},
      {Value("top-level string"), "Invalid top-level type in JSON write"},
      {Value(), "Invalid top-level type in JSON write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    std::optional<platform::Error> error;
    EXPECT_EQ(CVNJSONUtilities::JSONDataWithContainer(c.container, &error), std::nullopt);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, kCocoaErrorDomain);
    EXPECT_EQ(error->code, 987);
    EXPECT_EQ(error->localizedDescription, c.reason);
  }
  // Unsanitized writers refuse dates and NaN outright.
  EXPECT_EQ(CVNJSONUtilities::JSONDataWithObject(Value(march1st(0s))), std::nullopt);
  EXPECT_EQ(CVNJSONUtilities::JSONDataWithObject(Value(kNaN)), std::nullopt);
}

TEST(JSONUtilitiesTest, ObjectAndResultRepliesWrapTheirValue) {
  EXPECT_EQ(CVNJSONUtilities::JSONDataWithObject(Value()), std::nullopt);
  const auto object = CVNJSONUtilities::JSONDataWithObject(Value(5));
  ASSERT_TRUE(object);
  EXPECT_EQ(CVNJSONUtilities::dictionaryWithJSONData(*object), (Dictionary{{"value", Value(5)}}));

  const auto success = CVNJSONUtilities::JSONDataWithResult(true);
  ASSERT_TRUE(success);
  EXPECT_EQ(CVNJSONUtilities::dictionaryWithJSONData(*success), (Dictionary{{"success", Value(true)}}));
  const auto failure = CVNJSONUtilities::JSONDataWithResult(false, "Disk full");
  ASSERT_TRUE(failure);
  EXPECT_EQ(CVNJSONUtilities::dictionaryWithJSONData(*failure),
            (Dictionary{{"error", Value("Disk full")}, {"success", Value(false)}}));
}

TEST(JSONUtilitiesTest, IllFormedUtf8IsWrittenAsReplacementCharacters) {
  const auto json = CVNJSONUtilities::JSONDataWithContainer(Value(Array{Value(std::string("a\xFF" "b"))}));
  ASSERT_TRUE(json);
  EXPECT_EQ(CVNJSONUtilities::arrayWithJSONData(*json), (Array{Value("a\xEF\xBF\xBD" "b")}));
}

TEST(JSONUtilitiesTest, ReadsJSONTypesIntoValues) {
  const auto dictionary = CVNJSONUtilities::dictionaryWithJSONData(
      R"({"i": -5, "r": 1.5, "b": true, "n": null, "s": "x", "big": 18446744073709551615, "a": [], "k": 1, "k": 2})");
  ASSERT_TRUE(dictionary);
  EXPECT_EQ(*dictionary, (Dictionary{{"i", Value(-5)},
                                     {"r", Value(1.5)},
                                     {"b", Value(true)},
                                     {"n", Value()},
                                     {"s", Value("x")},
                                     {"big", Value(18446744073709551615.0)},
                                     {"a", Value(Array{})},
                                     {"k", Value(2)}}));
}

TEST(JSONUtilitiesTest, RefusesMalformedOrUnexpectedJSONWithTheDocumentedErrors) {
  enum class Kind { Dictionary, Array, Container };
  struct Case {
    std::string data;
    Kind kind;
    const char* domain;  // nullptr: success
    std::int64_t code;
    const char* description;
  } cases[] = {
      {R"({"a": 1})", Kind::Dictionary, nullptr, 0, ""},
      {"[1]", Kind::Array, nullptr, 0, ""},
      {"[1]", Kind::Dictionary, kJSONErrorDomain, 0, "JSON dictionary expected. Other object received."},
      {"{}", Kind::Array, kJSONErrorDomain, 0, "JSON array expected. Other object received."},
      {"[1, 2", Kind::Container, kCocoaErrorDomain, 3840, nullptr},
      {"", Kind::Container, kCocoaErrorDomain, 3840, nullptr},
      {"1", Kind::Container, kCocoaErrorDomain, 3840, nullptr},
      {"\"text\"", Kind::Dictionary, kCocoaErrorDomain, 3840, nullptr},
      {"[1] [2]", Kind::Array, kCocoaErrorDomain, 3840, nullptr},
      {"[\"\xFF\"]", Kind::Array, kCocoaErrorDomain, 3840, nullptr},
      {"[1e400]", Kind::Array, kCocoaErrorDomain, 3840, nullptr},  // no double holds it
      {std::string(kJSONMaxDepth + 1, '[') + std::string(kJSONMaxDepth + 1, ']'), Kind::Array, kCocoaErrorDomain,
       3840, nullptr},
      {std::string(kJSONMaxDepth, '[') + std::string(kJSONMaxDepth, ']'), Kind::Array, nullptr, 0, ""},
      {R"(["[[[[", "{{"])", Kind::Array, nullptr, 0, ""},  // brackets in strings do not nest
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data.substr(0, 40));
    std::optional<platform::Error> error = platform::Error("stale", 1, "from before");
    bool found = false;
    switch (c.kind) {
      case Kind::Dictionary: found = CVNJSONUtilities::dictionaryWithJSONData(c.data, &error).has_value(); break;
      case Kind::Array: found = CVNJSONUtilities::arrayWithJSONData(c.data, &error).has_value(); break;
      case Kind::Container: found = !CVNJSONUtilities::containerWithJSONData(c.data, &error).isNone(); break;
    }
    if (!c.domain) {
      EXPECT_TRUE(found);
      EXPECT_EQ(error, std::nullopt);
      continue;
    }
    EXPECT_FALSE(found);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, c.domain);
    EXPECT_EQ(error->code, c.code);
    if (c.description) {
      EXPECT_EQ(error->localizedDescription, c.description);
    }
  }
}

TEST(JSONUtilitiesTest, WrongKindErrorsCarryARecoverySuggestion) {
  std::optional<platform::Error> error;
  EXPECT_EQ(CVNJSONUtilities::dictionaryWithJSONData("[1]", &error), std::nullopt);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->userInfo[kLocalizedRecoverySuggestionKey], Value("Try sending a JSON dictionary instead."));
  EXPECT_EQ(CVNJSONUtilities::arrayWithJSONData("{}", &error), std::nullopt);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->userInfo[kLocalizedRecoverySuggestionKey], Value("Try sending a JSON array instead."));
}

TEST(JSONUtilitiesTest, NoDataGivesNoneAndNoError) {
  std::optional<platform::Error> error = platform::Error("stale", 1, "from before");
  EXPECT_EQ(CVNJSONUtilities::dictionaryWithJSONData(std::nullopt, &error), std::nullopt);
  EXPECT_EQ(error, std::nullopt);
  EXPECT_TRUE(CVNJSONUtilities::containerWithJSONData(std::nullopt).isNone());
}

}  // namespace
}  // namespace foundation
