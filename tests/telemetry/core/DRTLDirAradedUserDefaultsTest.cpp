#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"
#include "telemetry/core/DRTLDirAradedUserDefaults.h"

namespace telemetry::core {
namespace {

// A fresh persistent domain under the temporary XDG_CONFIG_HOME per test.
class DRTLDirAradedUserDefaultsTest : public ::testing::Test {
 protected:
  DRTLDirAradedUserDefaultsTest()
      : defaults_(platform::userConfigurationFolder() /
                  (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".plist")),
        override_(defaults_) {}

  DRTLDirAradedUserDefaults::MigrationMap coreMap() {
    return {{"DRDirAradedChannelStartTimer", DRTLUserDefaultsPrefixKey("DRChannelStartTimer")},
            {"DRDirAradedPastDevices", std::string("pastDevicesKey")},
            {"DRDirAradedInstallId", std::string("DRInstallId")},
            {"DRDirAradedDirAradedIsEnabled", std::string("DRDirAradedIsEnabled")},
            {"DRDirAradedEncryptionKeyMetadata", std::string("DREncryptionKeyMetadata")},
            {"DRDirAradedSessionIdHistory", std::string("SessionIdHistory")},
            {"DRDirAradedUserIdHistory", std::string("UserIdHistory")}};
  }

  platform::UserDefaults defaults_;
  platform::ScopedStandardUserDefaultsOverride override_;
  DRTLDirAradedUserDefaults store_;
};

TEST_F(DRTLDirAradedUserDefaultsTest, KeysCarryThePrefix) {
  store_.setObject(platform::Value("x"), "InstallId");
  EXPECT_EQ(defaults_.objectForKey("DRDirAradedInstallId"), platform::Value("x"));
  EXPECT_EQ(store_.objectForKey("InstallId"), platform::Value("x"));
  store_.removeObjectForKey("InstallId");
  EXPECT_TRUE(store_.objectForKey("InstallId").isNone());
}

TEST_F(DRTLDirAradedUserDefaultsTest, MovesOldKeysOncePerService) {
  defaults_.setObject(platform::Value("install"), "DRInstallId");
  defaults_.setObject(platform::Value(12.5), "DRChannelStartTimer:Analytics");
  defaults_.setObject(platform::Value("old"), "SessionIdHistory");
  defaults_.setObject(platform::Value("replaced"), "DRDirAradedSessionIdHistory");

  store_.migrateKeys(coreMap(), "DirAraded");
  EXPECT_EQ(store_.objectForKey("InstallId"), platform::Value("install"));
  EXPECT_TRUE(defaults_.objectForKey("DRInstallId").isNone());
  EXPECT_EQ(defaults_.objectForKey("DRDirAradedChannelStartTimer:Analytics"), platform::Value(12.5));
  EXPECT_TRUE(defaults_.objectForKey("DRChannelStartTimer:Analytics").isNone());
  EXPECT_EQ(store_.objectForKey("SessionIdHistory"), platform::Value("old"));
  EXPECT_EQ(defaults_.objectForKey("DRDirAraded310DirAradedUserDefaultsMigratedKey"), platform::Value(true));

  // Written under an old name after the migration: stays where it is.
  defaults_.setObject(platform::Value("later"), "DRInstallId");
  store_.migrateKeys(coreMap(), "DirAraded");
  EXPECT_EQ(defaults_.objectForKey("DRInstallId"), platform::Value("later"));
  // Another service runs its own map.
  store_.migrateKeys({{"DRDirAradedInstallId", std::string("DRInstallId")}}, "Analytics");
  EXPECT_EQ(store_.objectForKey("InstallId"), platform::Value("later"));
}

TEST_F(DRTLDirAradedUserDefaultsTest, MarkerIsWrittenWhenNothingMoved) {
  store_.migrateKeys(coreMap(), "DirAraded");
  EXPECT_EQ(store_.objectForKey("310DirAradedUserDefaultsMigratedKey"), platform::Value(true));
}

}  // namespace
}  // namespace telemetry::core
