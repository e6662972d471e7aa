#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLCustomProperties.h"
#include "telemetry/core/DRTLTypedProperty.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

using testing_support::LogCapture;

TEST(DRTLCustomPropertiesTest, KeysAndValuesAreChecked) {
  struct Row {
    std::string key;
    std::optional<std::string> value;
    bool stored;
    const char* message;
  };
  const Row rows[] = {
      {"a1", std::string("v"), true, nullptr},
      {"Z", std::string("v"), true, nullptr},
      {"1a", std::string("v"), false, "must match"},
      {"a-b", std::string("v"), false, "must match"},
      {"a b", std::string("v"), false, "must match"},
      {"", std::string("v"), false, "must match"},
      {std::string(128, 'k'), std::string("v"), true, nullptr},
      {std::string(129, 'k'), std::string("v"), false, "length cannot be longer than \"128\" characters."},
      {"longValue", std::string(128, 'v'), true, nullptr},
      {"tooLong", std::string(129, 'v'), false, "value length cannot be longer than \"128\" characters."},
      {"missing", std::nullopt, false, "cannot be null, did you mean to call clear?"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    LogCapture capture;
    DRTLCustomProperties properties;
    properties.setString(row.value, row.key);
    EXPECT_EQ(properties.propertiesImmutableCopy().size(), row.stored ? 1u : 0u);
    if (row.message) {
      EXPECT_TRUE(capture.contains(DRTLLogLevelError, row.message));
    }
  }
}

TEST(DRTLCustomPropertiesTest, SixtyKeysAtMostAndNoNaN) {
  LogCapture capture;
  DRTLCustomProperties properties;
  for (int i = 0; i < 60; ++i) properties.setNumber(std::int64_t{i}, "key" + std::to_string(i));
  properties.setBool(false, "key60");
  EXPECT_EQ(properties.propertiesImmutableCopy().size(), 60u);
  EXPECT_TRUE(capture.contains(DRTLLogLevelError, "Custom properties cannot contain more than \"60\" items."));
  properties.setBool(false, "key0").clearPropertyForKey("key1");
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "is already set or cleared and will be overridden."), 2);
  auto copy = properties.propertiesImmutableCopy();
  EXPECT_EQ(copy["key0"], DRTLCustomPropertyValue(false));
  EXPECT_EQ(copy["key1"], DRTLCustomPropertyValue(DRTLCustomPropertyClear{}));
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    properties.setNumber(bad, "key2");
    EXPECT_EQ(properties.propertiesImmutableCopy()["key2"], DRTLCustomPropertyValue(std::int64_t{2}));
  }
  EXPECT_EQ(capture.count(DRTLLogLevelError, "Custom property value cannot be NaN or infinite."), 2);
  EXPECT_EQ(DRTLCustomPropertiesLog::serializeProperty(false).dump(), R"({"type":"boolean","value":false})");
}

TEST(DRTLTypedPropertyTest, EqualityByTypeAndValueOnly) {
  DRTLStringTypedProperty a, b, c;
  a.name = "one";
  a.value = "x";
  b.name = "two";
  b.value = "x";
  c.value = "y";
  EXPECT_TRUE(a.isEqual(&b));
  EXPECT_FALSE(a.isEqual(&c));
  DRTLLongTypedProperty longProperty;
  DRTLDoubleTypedProperty doubleProperty;
  longProperty.value = 3;
  doubleProperty.value = 3.0;
  EXPECT_FALSE(longProperty.isEqual(&doubleProperty));
  EXPECT_FALSE(doubleProperty.isEqual(&longProperty));
  DRTLBooleanTypedProperty yes, no;
  yes.value = true;
  EXPECT_FALSE(yes.isEqual(&no));
  DRTLDateTimeTypedProperty none, other;
  EXPECT_TRUE(none.isEqual(&other));
}

template <typename T>
std::shared_ptr<T> roundTrip(const T& object) {
  return std::dynamic_pointer_cast<T>(DRTLUtility::unarchiveKeyedData(DRTLUtility::archiveKeyedData(&object)));
}

TEST(DRTLTypedPropertyTest, ExtremeNumbersSurviveJsonAndArchive) {
  DRTLLongTypedProperty longProperty;
  longProperty.name = "n";
  longProperty.value = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(longProperty.serializeToDictionary().dump(),
            R"({"type":"long","name":"n","value":-9223372036854775808})");
  auto longBack = roundTrip(longProperty);
  ASSERT_NE(longBack, nullptr);
  EXPECT_EQ(longBack->value, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(DRTLJSON::parse(longProperty.serializeToDictionary().dump())["value"].get<std::int64_t>(),
            longProperty.value);

  DRTLDoubleTypedProperty doubleProperty;
  doubleProperty.value = 0.1;
  EXPECT_EQ(doubleProperty.serializeToDictionary().dump(), R"({"type":"double","value":0.1})");
  auto doubleBack = roundTrip(doubleProperty);
  ASSERT_NE(doubleBack, nullptr);
  EXPECT_EQ(doubleBack->value, 0.1);
  EXPECT_EQ(DRTLJSON::parse(doubleProperty.serializeToDictionary().dump())["value"].get<double>(), 0.1);

  DRTLDateTimeTypedProperty date;
  date.value = platform::Date(std::chrono::milliseconds(1500));
  EXPECT_EQ(date.serializeToDictionary().dump(), R"({"type":"dateTime","value":"1970-01-01T00:00:01.500Z"})");
  EXPECT_TRUE(roundTrip(date)->isEqual(&date));
}

}  // namespace
}  // namespace telemetry::core
