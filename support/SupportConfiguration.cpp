#include "support/SupportConfiguration.h"

#include <cstdlib>

#include "platform/Keychain.h"
#include "platform/UserDefaults.h"

namespace support {

namespace {
constexpr const char* kDeskKeychainService = "Corvane Support Desk";
constexpr const char* kStorageKeychainService = "Corvane Support Storage";

std::string stringSetting(const platform::UserDefaults& defaults, const char* key) {
  return defaults.stringForKey(key).value_or("");
}

std::optional<std::filesystem::path> pathSetting(const platform::UserDefaults& defaults, const char* key) {
  std::string path = stringSetting(defaults, key);
  if (path.empty()) return std::nullopt;
  return std::filesystem::path(path);
}
}  // namespace

EnvironmentLookup processEnvironment() {
  return [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value || !*value) return std::nullopt;
    return std::string(value);
  };
}

ZendeskConfiguration ZendeskConfiguration::fromSettings(const platform::UserDefaults& defaults,
                                                        const platform::Keychain& keychain,
                                                        const EnvironmentLookup& environment) {
  ZendeskConfiguration configuration;
  configuration.baseAddress = stringSetting(defaults, "supportDeskAPIAddress");
  configuration.agentAddress = stringSetting(defaults, "supportDeskAgentAddress");
  configuration.supportWebAddress = stringSetting(defaults, "supportDeskWebAddress");
  configuration.certificateAuthorities = pathSetting(defaults, "supportDeskCertificateAuthorities");
  if (auto token = environment("SUPPORT_DESK_TOKEN")) {
    configuration.token = *token;
  } else if (auto stored = keychain.password(kDeskKeychainService, configuration.agentAddress); stored && stored.value()) {
    configuration.token = *stored.value();
  }
  return configuration;
}

CloudStorageConfiguration CloudStorageConfiguration::fromSettings(const platform::UserDefaults& defaults,
                                                                  const platform::Keychain& keychain,
                                                                  const EnvironmentLookup& environment) {
  CloudStorageConfiguration configuration;
  configuration.endpoint = stringSetting(defaults, "supportStorageEndpoint");
  configuration.bucketName = stringSetting(defaults, "supportStorageBucket");
  if (std::string region = stringSetting(defaults, "supportStorageRegion"); !region.empty()) {
    configuration.region = region;
  }
  if (defaults.integerForKey("supportStorageSignatureVersion") == 2) configuration.signatureVersion = 2;
  configuration.certificateAuthorities = pathSetting(defaults, "supportStorageCertificateAuthorities");
  auto accessKey = environment("SUPPORT_STORAGE_ACCESS_KEY");
  auto secretKey = environment("SUPPORT_STORAGE_SECRET_KEY");
  if (accessKey && secretKey) {
    configuration.accessKey = *accessKey;
    configuration.secretKey = *secretKey;
  } else if (auto stored = keychain.itemForService(kStorageKeychainService); stored && stored.value()) {
    configuration.accessKey = stored.value()->account;
    configuration.secretKey = stored.value()->password;
  }
  return configuration;
}

}  // namespace support
