#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>

#include "TelemetryLogFixtures.h"
#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLAnalyticsArchiveClasses.h"
#include "telemetry/services/analytics/DRTLEventLog.h"

namespace telemetry::analytics {
namespace {

using core::testing_support::LogCapture;

void stamp(core::DRTLAbstractLog& log) {
  log.timestamp = platform::Date(std::chrono::milliseconds(1614834367089));
  log.sid = "6F1A7C9E-0000-4000-8000-000000000001";
  log.device = core::testing_support::pipelineDevice();
}

TEST(DRTLAnalyticsLogsTest, NamedLogsSerialiseValidateAndCompareByClass) {
  DRTLPageLog page;
  stamp(page);
  EXPECT_EQ(page.serializeToDictionary().value("type", ""), "page");
  EXPECT_FALSE(page.serializeToDictionary().contains("name"));
  EXPECT_FALSE(page.isValid());
  page.name = "";
  EXPECT_TRUE(page.isValid());
  page.name = "Cart";
  EXPECT_EQ(page.serializeToDictionary()["name"], "Cart");

  DRTLEventLog event;
  stamp(event);
  event.name = "Cart";
  EXPECT_FALSE(page.isEqual(&event));
  EXPECT_FALSE(event.isEqual(&page));
  EXPECT_FALSE(event.isValid()) << "an event needs its id";
  event.eventId = "E1";
  EXPECT_TRUE(event.isValid());

  DRTLStartSessionLog start;
  stamp(start);
  EXPECT_EQ(start.serializeToDictionary().value("type", ""), "startSession");
  EXPECT_NE(dynamic_cast<core::DRTLNoAutoAssignSessionIdLog*>(&start), nullptr);
}

TEST(DRTLAnalyticsLogsTest, EventJsonAndArchiveRoundTrip) {
  registerAnalyticsArchiveClasses();
  auto event = std::make_shared<DRTLEventLog>();
  stamp(*event);
  event->name = "play";
  event->eventId = "E1";
  event->properties = std::map<std::string, std::string>{{"k", "v"}};
  event->typedProperties = std::make_shared<DRTLEventProperties>();
  event->typedProperties->setInt64(5, "n").setBool(true, "b").setString("x", "s");

  const core::DRTLJSON json = event->serializeToDictionary();
  EXPECT_EQ(json["id"], "E1");
  ASSERT_TRUE(json["typedProperties"].is_array());
  EXPECT_EQ(json["typedProperties"].size(), 3u);
  for (const auto& property : json["typedProperties"]) {
    if (property["name"] == "n") {
      EXPECT_EQ(property["value"], 5);
    }
    if (property["name"] == "b") {
      EXPECT_EQ(property["value"], true);
    }
  }

  std::optional<std::string> bytes = core::DRTLUtility::archiveKeyedData(event.get());
  ASSERT_TRUE(bytes);
  auto back = std::dynamic_pointer_cast<DRTLEventLog>(core::DRTLUtility::unarchiveKeyedData(bytes));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(event.get()));
  ASSERT_TRUE(back->typedProperties);
  EXPECT_TRUE(back->typedProperties->isEqual(event->typedProperties.get()));
}

TEST(DRTLAnalyticsLogsTest, SettersRefuseMissingAndNonFiniteValues) {
  LogCapture capture;
  DRTLEventProperties properties;
  properties.setInt64(1, "k").setString("text", "k");
  ASSERT_EQ(properties.properties().size(), 1u);
  EXPECT_EQ(properties.properties().at("k")->type, "string") << "a later setter replaces any type";
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    properties.setDouble(bad, "d");
  }
  properties.setString(std::nullopt, "v").setDate(std::nullopt, "w").setBool(true, std::nullopt);
  EXPECT_EQ(properties.properties().size(), 1u);
  EXPECT_EQ(capture.count(core::DRTLLogLevelError, "must be finite (cannot be INFINITY or NAN)."), 3);
  EXPECT_EQ(capture.count(core::DRTLLogLevelError, "Value cannot be null. Property will not be added."), 2);
  EXPECT_EQ(capture.count(core::DRTLLogLevelError, "Key cannot be null. Property will not be added."), 1);
}

struct Conversion {
  std::shared_ptr<core::DRTLSharedSchemaLog> log;
  core::DRTLJSON data() const { return log->data ? *log->data->properties : core::DRTLJSON(); }
  core::DRTLJSON metadata() const {
    return log->ext && log->ext->metadataExt ? *log->ext->metadataExt->metadata : core::DRTLJSON();
  }
};

Conversion convert(const std::shared_ptr<DRTLEventProperties>& properties) {
  DRTLEventLog event;
  stamp(event);
  event.name = "play";
  event.eventId = "E1";
  event.typedProperties = properties;
  return {event.toSharedSchemaLogForTargetToken("ikey-token", 1)};
}

TEST(DRTLAnalyticsLogsTest, ConversionBuildsPropertyAndMetadataTrees) {
  auto properties = std::make_shared<DRTLEventProperties>();
  properties->setInt64(5, "a.b.c").setDouble(1.5, "n").setBool(true, "flag");
  properties->setDate(platform::Date(std::chrono::milliseconds(0)), "when");
  properties->setString("T", "baseType").setString("y", "baseData.x");
  const Conversion converted = convert(properties);
  EXPECT_EQ(converted.log->name, "play");
  const core::DRTLJSON data = converted.data();
  EXPECT_EQ(data["a"]["b"]["c"], 5);
  EXPECT_EQ(data["n"], 1.5);
  EXPECT_EQ(data["flag"], true);
  EXPECT_EQ(data["when"], "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(data["baseData"]["x"], "y");
  const auto ordered = converted.log->data->serializeToDictionary();
  ASSERT_TRUE(ordered);
  EXPECT_EQ(ordered->json().begin().key(), "baseType");
  EXPECT_EQ(std::next(ordered->json().begin()).key(), "baseData");
  const core::DRTLJSON metadata = converted.metadata();
  EXPECT_EQ(metadata["f"]["a"]["f"]["b"]["f"]["c"], 4);
  EXPECT_EQ(metadata["f"]["n"], 6);
  EXPECT_EQ(metadata["f"]["when"], 9);
  EXPECT_FALSE(metadata["f"].contains("flag"));
  EXPECT_FALSE(metadata["f"].contains("baseType"));
  EXPECT_EQ(properties->properties().size(), 6u) << "the host's container keeps its entries";
}

TEST(DRTLAnalyticsLogsTest, ReservedNamesFollowTheirRules) {
  struct Row {
    const char* what;
    std::function<void(DRTLEventProperties&)> fill;
    std::vector<std::string> dataKeys;
    const char* warning;
  };
  const Row rows[] = {
      {"baseType alone", [](auto& p) { p.setString("T", "baseType").setString("v", "other"); }, {"other"},
       "baseType was set but baseData is missing."},
      {"baseData without baseType", [](auto& p) { p.setString("y", "baseData.x").setString("v", "other"); },
       {"other"}, "baseData was set but baseType is missing or invalid."},
      {"baseType of type long", [](auto& p) { p.setInt64(1, "baseType").setString("y", "baseData.x"); }, {},
       "baseData was set but baseType is missing or invalid."},
      {"plain baseData", [](auto& p) { p.setString("T", "baseType").setString("y", "baseData.x").setInt64(1, "baseData"); },
       {"baseType", "baseData"}, "baseData must be an object."},
      {"baseType as an object",
       [](auto& p) { p.setString("T", "baseType").setString("y", "baseData.x").setString("z", "baseType.k"); },
       {"baseType", "baseData"}, "baseType must not be an object."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    LogCapture capture;
    auto properties = std::make_shared<DRTLEventProperties>();
    row.fill(*properties);
    const Conversion converted = convert(properties);
    std::vector<std::string> keys;
    if (converted.log->data) {
      const auto ordered = converted.log->data->serializeToDictionary();
      for (const auto& [key, value] : ordered->json().items()) keys.push_back(key);
    }
    EXPECT_EQ(keys, row.dataKeys);
    EXPECT_TRUE(capture.contains(core::DRTLLogLevelWarning, row.warning));
  }
}

TEST(DRTLAnalyticsLogsTest, ConflictingPathsKeepOneAndLeaveNoStrayMetadata) {
  LogCapture capture;
  auto properties = std::make_shared<DRTLEventProperties>();
  properties->setString("s", "a").setInt64(7, "a.b");  // "a" is visited first
  const Conversion converted = convert(properties);
  EXPECT_EQ(converted.data()["a"], "s");
  EXPECT_TRUE(converted.metadata().is_null()) << converted.metadata().dump();
  EXPECT_TRUE(capture.contains(core::DRTLLogLevelWarning, "Property key 'b' already has a value, choosing one."));

  const Conversion none = convert(std::make_shared<DRTLEventProperties>());
  EXPECT_FALSE(none.log->data);
  EXPECT_FALSE(none.log->ext->metadataExt);
  auto onlyDropped = std::make_shared<DRTLEventProperties>();
  onlyDropped->setString("T", "baseType");
  EXPECT_FALSE(convert(onlyDropped).log->data);
}

}  // namespace
}  // namespace telemetry::analytics
