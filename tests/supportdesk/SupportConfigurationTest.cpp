#include "support/SupportConfiguration.h"

#include <map>

#include <gtest/gtest.h>

#include "platform/Keychain.h"
#include "platform/UserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

support::EnvironmentLookup environmentOf(std::map<std::string, std::string> values) {
  return [values](const std::string& name) -> std::optional<std::string> {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(SupportConfigurationTest, AddressesFromDefaultsSecretsFromEnvironmentOrKeychain) {
  testing_support::TemporaryDirectory folder;
  platform::UserDefaults defaults(folder / "defaults.plist");
  platform::Keychain keychain(folder / "keychain.plist");
  defaults.setObject(std::string("https://desk.test/api/v2/"), "supportDeskAPIAddress");
  defaults.setObject(std::string("agent@desk.test"), "supportDeskAgentAddress");
  defaults.setObject(std::string("https://store.test"), "supportStorageEndpoint");
  defaults.setObject(std::string("support-bucket"), "supportStorageBucket");

  auto desk = support::ZendeskConfiguration::fromSettings(defaults, keychain, environmentOf({}));
  auto storage = support::CloudStorageConfiguration::fromSettings(defaults, keychain, environmentOf({}));
  EXPECT_FALSE(desk.isComplete());  // no token anywhere: unreachable
  EXPECT_FALSE(storage.isComplete());
  EXPECT_EQ(storage.region, "us-east-1");
  EXPECT_EQ(storage.signatureVersion, 4);

  ASSERT_TRUE(keychain.setPassword("Corvane Support Desk", "agent@desk.test", "kc-token").ok());
  ASSERT_TRUE(keychain.setPassword("Corvane Support Storage", "AKIDKEYCHAIN", "kc-secret").ok());
  defaults.setObject(std::int64_t{2}, "supportStorageSignatureVersion");
  defaults.setObject(std::string("eu-central-2"), "supportStorageRegion");
  desk = support::ZendeskConfiguration::fromSettings(defaults, keychain, environmentOf({}));
  storage = support::CloudStorageConfiguration::fromSettings(defaults, keychain, environmentOf({}));
  EXPECT_TRUE(desk.isComplete());
  EXPECT_EQ(desk.token, "kc-token");
  EXPECT_EQ(storage.accessKey, "AKIDKEYCHAIN");
  EXPECT_EQ(storage.secretKey, "kc-secret");
  EXPECT_EQ(storage.region, "eu-central-2");
  EXPECT_EQ(storage.signatureVersion, 2);

  auto environment = environmentOf({{"SUPPORT_DESK_TOKEN", "env-token"},
                                    {"SUPPORT_STORAGE_ACCESS_KEY", "AKIDENV"},
                                    {"SUPPORT_STORAGE_SECRET_KEY", "env-secret"}});
  EXPECT_EQ(support::ZendeskConfiguration::fromSettings(defaults, keychain, environment).token, "env-token");
  EXPECT_EQ(support::CloudStorageConfiguration::fromSettings(defaults, keychain, environment).accessKey, "AKIDENV");
}

}  // namespace
