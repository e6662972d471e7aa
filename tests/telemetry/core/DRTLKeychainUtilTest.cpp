#include <gtest/gtest.h>

#include "TelemetryTestSupport.h"
#include "telemetry/core/DRTLKeychainUtil.h"

namespace telemetry::core {
namespace {

TEST(DRTLKeychainUtilTest, StoresReplacesReadsAndDeletes) {
  const std::string service = "test.keychain.DirAraded";
  EXPECT_TRUE(DRTLKeychainUtil::storeString("first", "key", service));
  EXPECT_TRUE(DRTLKeychainUtil::storeString("second", "key", service));
  int status = 1;
  EXPECT_EQ(DRTLKeychainUtil::stringForKey("key", service, &status), "second");
  EXPECT_EQ(status, kDRTLKeychainStatusSuccess);
  EXPECT_EQ(DRTLKeychainUtil::deleteStringForKey("key", service), "second");
  EXPECT_EQ(DRTLKeychainUtil::stringForKey("key", service, nullptr), std::nullopt);
}

TEST(DRTLKeychainUtilTest, MissingKeyReportsNotFound) {
  testing_support::LogCapture capture;
  int status = 0;
  EXPECT_EQ(DRTLKeychainUtil::stringForKey("absent", &status), std::nullopt);
  EXPECT_EQ(status, kDRTLKeychainStatusItemNotFound);
  EXPECT_EQ(DRTLKeychainUtil::deleteStringForKey("absent"), std::nullopt);
  EXPECT_EQ(capture.count(DRTLLogLevelWarning, "Failed to retrieve item with key='absent', service='" +
                                                   DRTLKeychainUtil::defaultServiceName() +
                                                   "' from keychain. OS Status code -25300"),
            2);
}

TEST(DRTLKeychainUtilTest, DefaultServiceEndsWithTheSdkName) {
  EXPECT_TRUE(DRTLKeychainUtil::defaultServiceName().ends_with(".DirAraded"));
}

}  // namespace
}  // namespace telemetry::core
