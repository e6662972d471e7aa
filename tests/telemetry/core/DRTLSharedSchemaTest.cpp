#include <gtest/gtest.h>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLLogWithProperties.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

const platform::Date kTime{std::chrono::milliseconds(1614834367089)};

template <typename T>
std::shared_ptr<T> roundTrip(const T& object) {
  auto decoded = std::dynamic_pointer_cast<T>(DRTLUtility::unarchiveKeyedData(DRTLUtility::archiveKeyedData(&object)));
  EXPECT_NE(decoded, nullptr) << object.className();
  return decoded;
}

std::shared_ptr<DRTLSharedSchemaLog> sharedSchemaLog(std::int64_t flags) {
  auto log = std::make_shared<DRTLSharedSchemaLog>();
  log->ver = "3.0";
  log->name = "play";
  log->timestamp = kTime;
  log->iKey = "o:abc";
  log->flags = flags;
  log->ext = std::make_shared<DRTLCSExtensions>();
  log->popSample = 12.5;
  log->cV = "vector";
  return log;
}

TEST(DRTLSharedSchemaTest, GoldenJsonWithAndWithoutFlags) {
  const std::pair<std::int64_t, std::string> cases[] = {
      {0, R"({"ver":"3.0","name":"play","time":"2021-03-04T05:06:07.089Z","iKey":"o:abc","ext":{}})"},
      {2, R"({"ver":"3.0","name":"play","time":"2021-03-04T05:06:07.089Z","iKey":"o:abc","flags":2,"ext":{}})"},
  };
  for (const auto& [flags, golden] : cases) {
    auto log = sharedSchemaLog(flags);
    EXPECT_EQ(log->serializeLogWithPrettyPrinting(false), golden);
    auto decoded = roundTrip(*log);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->isEqual(log.get()));
    EXPECT_EQ(decoded->popSample, 12.5);
    EXPECT_EQ(decoded->cV, "vector");
    EXPECT_EQ(decoded->serializeLogWithPrettyPrinting(false), golden);
  }
}

TEST(DRTLSharedSchemaTest, ExtensionPartsInOrderAndEmptyOnesLeftOut) {
  DRTLCSExtensions ext;
  ext.netExt = std::make_shared<DRTLNetExtension>();
  ext.protocolExt = std::make_shared<DRTLProtocolExtension>();
  ext.sdkExt = std::make_shared<DRTLSDKExtension>();
  EXPECT_EQ(ext.serializeToDictionary().dump(), "{}");
  ext.sdkExt->seq = 5;
  ext.sdkExt->libVer = "diraraded.linux-4.0.0";
  ext.appExt = std::make_shared<DRTLAppExtension>();
  ext.appExt->appId = "I:app";
  ext.appExt->ver = "1.0";
  ext.appExt->name = "name";
  ext.appExt->locale = "en";
  ext.appExt->userId = "u";
  ext.userExt = std::make_shared<DRTLUserExtension>();
  ext.userExt->locale = "en-US";
  ext.metadataExt = std::make_shared<DRTLMetadataExtension>();
  ext.metadataExt->metadata = DRTLJSON::parse(R"({"f":{"a":4}})");
  const std::string golden =
      R"({"metadata":{"f":{"a":4}},"user":{"locale":"en-US"},)"
      R"("app":{"id":"I:app","ver":"1.0","name":"name","locale":"en","userId":"u"},)"
      R"("sdk":{"libVer":"diraraded.linux-4.0.0","seq":5}})";
  EXPECT_EQ(ext.serializeToDictionary().dump(), golden);
  auto decoded = roundTrip(ext);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(&ext));
  EXPECT_EQ(decoded->serializeToDictionary().dump(), golden);
}

TEST(DRTLSharedSchemaTest, DataPartStartsWithBaseTypeAndBaseData) {
  DRTLCSData data;
  data.properties = DRTLJSON::parse(R"({"x":1,"baseData":{"b":true},"baseType":"T"})");
  const std::string golden = R"({"baseType":"T","baseData":{"b":true},"x":1})";
  EXPECT_EQ(data.serializeToDictionary()->json().dump(), golden);
  auto decoded = roundTrip(data);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(&data));
  EXPECT_EQ(decoded->serializeToDictionary()->json().dump(), golden);
  EXPECT_FALSE(DRTLCSData().serializeToDictionary().has_value());
}

TEST(DRTLSharedSchemaTest, ValidityNamesTimestampVerAndName) {
  testing_support::LogCapture capture;
  DRTLLogger::setCurrentLogLevel(DRTLLogLevelVerbose);
  DRTLSharedSchemaLog log;
  EXPECT_FALSE(log.isValid());
  log.timestamp = kTime;
  log.ver = "3.0";
  EXPECT_FALSE(log.isValid());
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "DRTLSharedSchemaLog: \"timestamp\" is not valid."));
  EXPECT_TRUE(capture.contains(DRTLLogLevelVerbose, "DRTLSharedSchemaLog: \"name\" is not valid."));
}

TEST(DRTLSharedSchemaTest, OrderedDictionaryKeepsFirstInsertionOrder) {
  DRTLOrderedDictionary first, second;
  first.setObject(1, "b");
  first.setObject(2, "a");
  first.setObject(3, "b");
  EXPECT_EQ(first.json().dump(), R"({"b":3,"a":2})");
  second.setObject(2, "a");
  second.setObject(3, "b");
  EXPECT_FALSE(first.isEqualToDictionary(second));
  first.removeAllObjects();
  EXPECT_EQ(first.count(), 0u);
}

TEST(DRTLSharedSchemaTest, PartEqualityCountsAbsentFields) {
  DRTLMetadataExtension none, other, withData;
  withData.metadata = DRTLJSON::object({{"a", 1}});
  EXPECT_TRUE(none.isEqual(&other));
  EXPECT_FALSE(none.isEqual(&withData));
  DRTLDeviceExtension device, deviceWithId;
  deviceWithId.localId = "u:1";
  EXPECT_FALSE(device.isEqual(&deviceWithId));
  EXPECT_FALSE(device.isEqual(&none));
}

TEST(DRTLSharedSchemaTest, CustomPropertiesLogGoldenJson) {
  DRTLCustomPropertiesLog log;
  log.timestamp = kTime;
  log.properties = DRTLCustomPropertyMap{{"a", DRTLCustomPropertyClear{}},
                                         {"b", true},
                                         {"c", std::int64_t{7}},
                                         {"d", 0.5},
                                         {"e", kTime},
                                         {"f", std::string("text/x")}};
  const std::string golden =
      R"({"type":"customProperties","timestamp":"2021-03-04T05:06:07.089Z","properties":[)"
      R"({"type":"clear","name":"a"},{"type":"boolean","value":true,"name":"b"},)"
      R"({"type":"number","value":7,"name":"c"},{"type":"number","value":0.5,"name":"d"},)"
      R"({"type":"dateTime","value":"2021-03-04T05:06:07.089Z","name":"e"},)"
      R"({"type":"string","value":"text/x","name":"f"}]})";
  EXPECT_EQ(log.serializeLogWithPrettyPrinting(false), golden);
  auto decoded = roundTrip(log);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(&log));
  EXPECT_EQ(decoded->serializeLogWithPrettyPrinting(false), golden);
}

TEST(DRTLSharedSchemaTest, LogWithPropertiesWritesPropertiesOnlyWhenThereAreSome) {
  DRTLLogWithProperties log;
  log.type = "event";
  log.properties = std::map<std::string, std::string>{};
  EXPECT_EQ(log.serializeLogWithPrettyPrinting(false), R"({"type":"event"})");
  log.properties = std::map<std::string, std::string>{{"k", "v"}};
  EXPECT_EQ(log.serializeLogWithPrettyPrinting(false), R"({"type":"event","properties":{"k":"v"}})");
  auto decoded = roundTrip(log);
  ASSERT_NE(decoded, nullptr);
  EXPECT_TRUE(decoded->isEqual(&log));
}

}  // namespace
}  // namespace telemetry::core
