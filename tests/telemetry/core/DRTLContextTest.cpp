#include <gtest/gtest.h>

#include "ContextFixture.h"
#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLSharedSchemaLog.h"

namespace telemetry::core {
namespace {

using std::chrono::seconds;

class DRTLContextTest : public testing_support::ContextFixture {};

TEST_F(DRTLContextTest, SessionLookUpsAtBeforeAndAfterEntries) {
  auto context = DRTLSessionContext::sharedInstance();
  const platform::Date start = now();
  advance(seconds(10));
  context->setSessionId("first-run");
  const platform::Date setAt = now();
  DRTLSessionContext::resetSharedInstance();  // next launch
  advance(seconds(10));
  auto next = DRTLSessionContext::sharedInstance();
  advance(seconds(10));
  next->setSessionId("second-run");
  const platform::Date secondAt = now();

  EXPECT_EQ(next->sessionIdAt(start), std::nullopt);
  EXPECT_EQ(next->sessionIdAt(setAt), "first-run");  // the instant it was set
  EXPECT_EQ(next->sessionIdAt(setAt + seconds(5)), "first-run");
  EXPECT_EQ(next->sessionIdAt(secondAt), "second-run");
  EXPECT_EQ(next->sessionIdAt(secondAt + seconds(100)), "second-run");
  EXPECT_EQ(next->sessionHistory().size(), 2u);
}

TEST_F(DRTLContextTest, ClearingWithoutTheCurrentSessionLeavesOnlyTheNextOne) {
  auto context = DRTLSessionContext::sharedInstance();
  context->setSessionId("a");
  context->clearSessionHistoryAndKeepCurrentSession(false);
  EXPECT_TRUE(context->sessionHistory().empty());
  context->setSessionId("b");
  ASSERT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_EQ(context->sessionHistory()[0]->sessionId, "b");
}

TEST_F(DRTLContextTest, UserIdLookUpsAndNoRewriteForTheSameId) {
  auto context = DRTLUserIdContext::sharedInstance();
  advance(seconds(1));
  context->setUserId("alice");
  const platform::Date setAt = now();
  EXPECT_EQ(context->userIdAt(setAt), "alice");
  EXPECT_EQ(context->userIdAt(setAt - seconds(5)), std::nullopt);
  const platform::Value saved = DRTLDirAradedUserDefaults::shared()->objectForKey("UserIdHistory");
  advance(seconds(1));
  context->setUserId("alice");
  EXPECT_EQ(DRTLDirAradedUserDefaults::shared()->objectForKey("UserIdHistory"), saved);
  context->clearUserIdHistory();
  EXPECT_EQ(context->userIdHistory().size(), 1u);
}

TEST_F(DRTLContextTest, UnreadableHistoryStartsEmptyWithTheError) {
  testing_support::LogCapture capture;
  DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(platform::Data{'<', 'x'}), "SessionIdHistory");
  auto context = DRTLSessionContext::sharedInstance();
  EXPECT_EQ(context->sessionHistory().size(), 1u);
  EXPECT_TRUE(capture.contains(DRTLLogLevelError, "Unarchiving NSData failed with error: "));

  // An archive of the wrong class reads as nothing too.
  DRTLDevice device;
  auto bytes = *DRTLUtility::archiveKeyedData(&device);
  DRTLDirAradedUserDefaults::shared()->setObject(platform::Value(platform::Data(bytes.begin(), bytes.end())),
                                                 "UserIdHistory");
  auto users = DRTLUserIdContext::sharedInstance();
  EXPECT_EQ(users->userIdHistory().size(), 1u);
  EXPECT_EQ(capture.count(DRTLLogLevelError, "Unarchiving NSData failed with error: "), 2);
}

TEST(DRTLUserIdRulesTest, ValidityAndPrefix) {
  const std::tuple<std::optional<std::string>, bool, bool> cases[] = {
      {std::nullopt, true, true},
      {std::string("alice"), true, true},
      {std::string("c:alice"), true, true},
      {std::string("c:"), true, false},
      {std::string(""), true, false},
      {std::string("x:alice"), true, false},
      {std::string(256, 'a'), true, true},
      {std::string(257, 'a'), false, true},
  };
  for (const auto& [userId, forFirst, forSecond] : cases) {
    SCOPED_TRACE(userId.value_or("(none)"));
    EXPECT_EQ(DRTLUserIdContext::isUserIdValidForDirAraded(userId), forFirst);
    EXPECT_EQ(DRTLUserIdContext::isUserIdValidForRizErazuzude(userId), forSecond);
  }
  testing_support::LogCapture capture;
  DRTLUserIdContext::isUserIdValidForRizErazuzude(std::string("x:alice"));
  EXPECT_TRUE(capture.contains(DRTLLogLevelError, "userId prefix must be 'c', 'x' is not supported."));
  EXPECT_EQ(DRTLUserIdContext::prefixedUserIdFromUserId(std::string("alice")), "c:alice");
  EXPECT_EQ(DRTLUserIdContext::prefixedUserIdFromUserId(std::string("d:alice")), "d:alice");
  EXPECT_EQ(DRTLUserIdContext::prefixedUserIdFromUserId(std::nullopt), std::nullopt);
}

TEST(DRTLConversionTest, TimeZoneAndVersionTexts) {
  const std::pair<std::int64_t, std::string> offsets[] = {
      {120, "+02:00"}, {-330, "-05:30"}, {345, "+05:45"}, {0, "+00:00"}, {-30, "-00:30"}, {-59, "-00:59"}};
  for (const auto& [minutes, text] : offsets) EXPECT_EQ(DRTLAbstractLog::convertTimeZoneOffsetToISO8601(minutes), text);
  EXPECT_EQ(DRTLAbstractLog::combineOsVersion(std::string("12.0.0"), std::string("6.1.0-18-amd64")),
            "Version 12.0.0 (Build 6.1.0-18-amd64)");
  EXPECT_EQ(DRTLAbstractLog::combineOsVersion(std::string("12.0.0"), std::nullopt), "Version 12.0.0");
  EXPECT_EQ(DRTLAbstractLog::combineOsVersion(std::nullopt, std::string("build")), std::nullopt);
  EXPECT_EQ(DRTLAbstractLog::combineOsVersion(std::string(""), std::string("build")), std::nullopt);
  EXPECT_EQ(DRTLAbstractLog::combineSDKLibVer(DRTLUtility::sdkName(), DRTLUtility::sdkVersion()),
            "diraraded.linux-4.0.0");
  EXPECT_EQ(DRTLAbstractLog::combineSDKLibVer(std::string("x"), std::nullopt), std::nullopt);
}

TEST(DRTLConversionTest, OneSharedSchemaLogPerToken) {
  DRTLAbstractLog log;
  log.type = "event";
  log.timestamp = platform::Date(std::chrono::milliseconds(1614834367089));
  log.userId = "alice";
  log.device = std::make_shared<DRTLDevice>();
  log.device->locale = "zh-Hans_CN";
  log.device->osName = "Debian GNU/Linux";
  log.device->osVersion = "12.0.0";
  log.device->osBuild = "6.1.0";
  log.device->sdkName = DRTLUtility::sdkName();
  log.device->sdkVersion = DRTLUtility::sdkVersion();
  log.device->timeZoneOffset = -330;
  log.device->appNamespace = "com.example.app";
  log.device->appVersion = "1.2";
  EXPECT_EQ(log.toSharedSchemaLogsWithFlags(1), std::nullopt);
  log.addTransmissionTargetToken("first-token");
  log.addTransmissionTargetToken("second-token");
  auto converted = log.toSharedSchemaLogsWithFlags(1);
  ASSERT_TRUE(converted.has_value());
  ASSERT_EQ(converted->size(), 2u);
  EXPECT_EQ((*converted)[0]->iKey, "o:first");
  EXPECT_EQ((*converted)[0]->transmissionTargetTokens(), (std::set<std::string>{"first-token"}));
  EXPECT_EQ((*converted)[1]->iKey, "o:second");
  EXPECT_EQ((*converted)[1]->transmissionTargetTokens(), (std::set<std::string>{"second-token"}));
  EXPECT_EQ((*converted)[0]->serializeLogWithPrettyPrinting(false),
            R"j({"ver":"3.0","time":"2021-03-04T05:06:07.089Z","iKey":"o:first","flags":1,"ext":{)j"
            R"j("user":{"localId":"c:alice","locale":"zh-Hans-CN"},"os":{"name":"Debian GNU/Linux",)j"
            R"j("ver":"Version 12.0.0 (Build 6.1.0)"},"app":{"id":"I:com.example.app","ver":"1.2","locale":"en"},)j"
            R"j("sdk":{"libVer":"diraraded.linux-4.0.0"},"loc":{"tz":"-05:30"}}})j");
}

}  // namespace
}  // namespace telemetry::core
