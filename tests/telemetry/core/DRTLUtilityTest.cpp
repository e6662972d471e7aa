#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TelemetryTestSupport.h"
#include "platform/Clock.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
namespace {

using std::nullopt;
using std::optional;
using std::string;

struct ConfigurationCase {
  optional<string> text;
  optional<string> secret;
  optional<string> token;
};

TEST(DRTLUtilityConfigurationTest, SplitsSecretAndTargetToken) {
  const ConfigurationCase cases[] = {
      {"secret-1", "secret-1", nullopt},
      {"appsecret=abc;target=tok-1", "abc", "tok-1"},
      {"target=tok-1", nullopt, "tok-1"},
      {"target=tok-1;", nullopt, "tok-1"},
      {"appsecret=abc;linux=", nullopt, nullopt},
      {"appsecret=abc;linux=xyz;target=t", "xyz", "t"},
      {"linux=a;linux=b", "a", nullopt},
      {";;appsecret=abc;", "abc", nullopt},
      {"key=value", "key=value", nullopt},
      {"target=;target=second", nullopt, "second"},
      {"", nullopt, nullopt},
      {nullopt, nullopt, nullopt},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.text.value_or("(none)"));
    EXPECT_EQ(DRTLUtility::appSecretFrom(row.text), row.secret);
    EXPECT_EQ(DRTLUtility::transmissionTargetTokenFrom(row.text), row.token);
  }
}

TEST(DRTLUtilityConfigurationTest, TargetKeyAndInstrumentationKey) {
  const std::tuple<optional<string>, optional<string>, optional<string>> cases[] = {
      {"abc-def-ghi", "abc", "o:abc"},
      {"whole", "whole", "o:whole"},
      {"-starts", nullopt, nullopt},
      {"", nullopt, nullopt},
      {nullopt, nullopt, nullopt},
  };
  for (const auto& [token, key, iKey] : cases) {
    SCOPED_TRACE(token.value_or("(none)"));
    EXPECT_EQ(DRTLUtility::targetKeyFromTargetToken(token), key);
    EXPECT_EQ(DRTLUtility::iKeyFromTargetToken(token), iKey);
  }
}

TEST(DRTLUtilityFormattingTest, Sha256OfAbcIsTheStandardDigest) {
  EXPECT_EQ(DRTLUtility::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(DRTLUtilityFormattingTest, PrettyPrintKeepsSlashesAndPassesNonJsonThrough) {
  EXPECT_EQ(DRTLUtility::prettyPrintJson(string(R"({"url":"http:\/\/a\/b","n":1})")),
            "{\n  \"url\": \"http://a/b\",\n  \"n\": 1\n}");
  EXPECT_EQ(DRTLUtility::prettyPrintJson(string("not json {")), "not json {");
  EXPECT_EQ(DRTLUtility::prettyPrintJson(nullopt), nullopt);
}

TEST(DRTLUtilityFormattingTest, MaskingIsCaseInsensitiveWithGroups) {
  EXPECT_EQ(DRTLUtility::obfuscateString(string("Token: ABC123 token: def"), "(token: )[a-z0-9]+", "$1***"),
            "Token: *** token: ***");
  testing_support::LogCapture capture;
  EXPECT_EQ(DRTLUtility::obfuscateString(string("x"), "([unclosed", "y"), nullopt);
  EXPECT_TRUE(capture.contains(DRTLLogLevelError, "Couldn't create regular expression with pattern\"([unclosed\""));
  EXPECT_EQ(DRTLUtility::obfuscateString(nullopt, "a", "b"), nullopt);
}

platform::Date dateAt(std::int64_t milliseconds) {
  return platform::Date(std::chrono::milliseconds(milliseconds));
}

TEST(DRTLUtilityDatesTest, IsoTextsRoundTripFromManyThreads) {
  const std::pair<platform::Date, string> cases[] = {
      {platform::Date(std::chrono::microseconds(500000)), "1970-01-01T00:00:00.500Z"},
      {dateAt(1614834367089), "2021-03-04T05:06:07.089Z"},
      {dateAt(951782400000), "2000-02-29T00:00:00.000Z"},
      {dateAt(-1), "1969-12-31T23:59:59.999Z"},
  };
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < 500; ++round) {
        for (const auto& [date, text] : cases) {
          if (DRTLUtility::dateToISO8601(date) != text || DRTLUtility::dateFromISO8601(text) != date) ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  for (const auto& [date, text] : cases) EXPECT_EQ(DRTLUtility::dateToISO8601(date), text);
}

TEST(DRTLUtilityDatesTest, RefusesOtherForms) {
  for (const char* text : {"2021-03-04T05:06:07Z", "2021-03-04T05:06:07.089", "2021-03-04 05:06:07.089Z",
                           "2021-13-04T05:06:07.089Z", "2021-02-30T05:06:07.089Z", "2021-03-04T25:06:07.089Z", "",
                           "2021-03-04T05:06:07.089Z "}) {
    EXPECT_EQ(DRTLUtility::dateFromISO8601(text), nullopt) << text;
  }
}

TEST(DRTLUtilityDatesTest, NowFollowsThePlatformClock) {
  platform::ManualClock clock(platform::Clock::WallTime(std::chrono::milliseconds(1500)));
  platform::ScopedClockOverride use(clock);
  EXPECT_DOUBLE_EQ(DRTLUtility::nowInMilliseconds(), 1500.0);
}

TEST(DRTLUtilityPropertiesTest, KeepsTwentyPairsAndCutsLongKeysAndValues) {
  testing_support::LogCapture capture;
  platform::Dictionary many;
  for (int i = 0; i < 25; ++i) many["key" + std::to_string(10 + i)] = platform::Value("v");
  EXPECT_EQ(DRTLUtility::validateProperties(many, "event", "Event").size(), 20u);
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "Event 'event' : properties cannot contain more than 20 items"), 1);

  const string longKey(130, 'k'), longValue(130, 'v');
  platform::Dictionary cut{{longKey, platform::Value(longValue)},
                           {"number", platform::Value(3)},
                           {"", platform::Value("x")},
                           {"ok", platform::Value("fine")}};
  auto accepted = DRTLUtility::validateProperties(cut, "event", "Event");
  EXPECT_EQ(accepted, (std::map<string, string>{{string(125, 'k'), string(125, 'v')}, {"ok", "fine"}}));
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "property key length cannot be longer than 125 characters"), 1);
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "property value cannot be longer than 125 characters"), 1);
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "a property key cannot be null or empty"), 1);
}

TEST(DRTLUtilityTest, SdkNameAndVersion) {
  EXPECT_EQ(DRTLUtility::sdkName(), "diraraded.linux");
  EXPECT_EQ(DRTLUtility::sdkVersion(), "4.0.0");
}

TEST(DRTLUtilityTest, ApplicationStateIsUnknownOffTheMainThread) {
  int state = -1;
  std::thread other([&] { state = DRTLUtility::applicationState(); });
  other.join();
  EXPECT_EQ(state, DRTLApplicationStateUnknown);
}

}  // namespace
}  // namespace telemetry::core
