#include <gtest/gtest.h>

#include "TelemetryTestSupport.h"
#include "telemetry/services/analytics/DRTLAnalyticsValidation.h"
#include "telemetry/services/analytics/DRTLEventLog.h"

namespace telemetry::analytics {
namespace {

using core::testing_support::LogCapture;

TEST(DRTLAnalyticsValidationTest, NamesAreCutOrRefusedAtTheChannel) {
  struct Row {
    std::shared_ptr<DRTLLogWithNameAndProperties> log;
    std::optional<std::string> name;
    bool dropped;
    std::size_t keptLength;
    const char* message;
  };
  const Row rows[] = {
      {std::make_shared<DRTLEventLog>(), "", true, 0, "event name cannot be null or empty"},
      {std::make_shared<DRTLPageLog>(), std::nullopt, true, 0, "page name cannot be null or empty"},
      {std::make_shared<DRTLEventLog>(), std::string(256, 'n'), false, 256, nullptr},
      {std::make_shared<DRTLPageLog>(), std::string(257, 'n'), false, 256,
       "name length cannot be longer than 256 characters. Name will be truncated."},
      {std::make_shared<DRTLEventLog>(), std::string(300, 'n'), false, 256, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(*row.log->type + " " + std::to_string(row.name ? row.name->size() : 0));
    LogCapture capture;
    row.log->name = row.name;
    EXPECT_EQ(DRTLAnalyticsValidation::shouldFilterLog(row.log), row.dropped);
    if (!row.dropped) {
      EXPECT_EQ(row.log->name->size(), row.keptLength);
    }
    if (row.message) {
      EXPECT_EQ(capture.count(row.dropped ? core::DRTLLogLevelError : core::DRTLLogLevelWarning, row.message), 1);
    }
  }
  auto other = std::make_shared<DRTLStartSessionLog>();
  EXPECT_FALSE(DRTLAnalyticsValidation::shouldFilterLog(other));
  auto plainNamed = std::make_shared<DRTLLogWithNameAndProperties>();
  EXPECT_FALSE(DRTLAnalyticsValidation::shouldFilterLog(plainNamed)) << "only events and pages are checked";
}

TEST(DRTLAnalyticsValidationTest, TypedPropertyNamesAndStringValuesAreCutAt126) {
  struct Row {
    std::size_t length;
    std::size_t kept;
  };
  for (const Row& row : {Row{124, 124}, Row{125, 125}, Row{126, 124}, Row{400, 124}}) {
    SCOPED_TRACE(row.length);
    LogCapture capture;
    DRTLEventProperties properties;
    properties.setString(std::string(row.length, 'v'), std::string(row.length, 'k'));
    properties.setInt64(1, "n").setDouble(2.5, "d").setBool(true, "b");
    properties.setDate(platform::Date(std::chrono::seconds(1)), "t");
    auto validated = DRTLAnalyticsValidation::validateDirAradedEventProperties(properties);
    const auto map = validated->properties();
    ASSERT_EQ(map.size(), 5u);
    const auto& text = map.at(std::string(row.kept, 'k'));
    EXPECT_EQ(dynamic_cast<const core::DRTLStringTypedProperty&>(*text).value->size(), row.kept);
    EXPECT_EQ(dynamic_cast<const core::DRTLLongTypedProperty&>(*map.at("n")).value, 1);
    const int cuts = row.length > 125 ? 1 : 0;
    EXPECT_EQ(capture.count(core::DRTLLogLevelWarning, "key length cannot exceed 125 characters."), cuts);
    EXPECT_EQ(capture.count(core::DRTLLogLevelWarning, "Typed property value length cannot exceed 125 characters."),
              cuts);
  }
  const std::string multiByte = std::string(120, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
  EXPECT_EQ(DRTLAnalyticsValidation::validateDirAradedPropertyName(multiByte),
            std::string(120, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9") << "a cut never splits a character";
}

TEST(DRTLAnalyticsValidationTest, TwentyTypedPropertiesAtMostAndCutNamesCollapse) {
  LogCapture capture;
  DRTLEventProperties properties;
  for (int i = 0; i < 25; ++i) properties.setInt64(i, "key" + std::string(i < 10 ? "0" : "") + std::to_string(i));
  auto validated = DRTLAnalyticsValidation::validateDirAradedEventProperties(properties);
  EXPECT_EQ(validated->properties().size(), 20u);
  EXPECT_TRUE(validated->properties().count("key19"));
  EXPECT_FALSE(validated->properties().count("key20"));
  EXPECT_EQ(capture.count(core::DRTLLogLevelWarning,
                         "Typed properties cannot contain more than 20 items. Skipping other properties."),
            1);

  DRTLEventProperties twins;
  twins.setString("a", std::string(124, 'k') + "1").setString("b", std::string(124, 'k') + "2" + "x");
  twins.setString("c", std::string(124, 'k') + "3" + "x");
  EXPECT_EQ(DRTLAnalyticsValidation::validateDirAradedEventProperties(twins)->properties().size(), 2u)
      << "the two long names cut to the same 124 characters become one";
}

TEST(DRTLAnalyticsValidationTest, StringPropertiesOfTheLogGoThroughTheSharedRules) {
  auto page = std::make_shared<DRTLPageLog>();
  page->name = "Cart";
  page->properties = std::map<std::string, std::string>{{"k", std::string(200, 'v')}};
  EXPECT_FALSE(DRTLAnalyticsValidation::shouldFilterLog(page));
  EXPECT_EQ(page->properties->at("k").size(), 125u);
}

}  // namespace
}  // namespace telemetry::analytics
