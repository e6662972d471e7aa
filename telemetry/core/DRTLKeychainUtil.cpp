#include "telemetry/core/DRTLKeychainUtil.h"

#include "platform/Bundle.h"
#include "platform/Keychain.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

std::string describeItem(const std::string& key, const std::string& service) {
  return "key='" + key + "', service='" + service + "'";
}

}  // namespace

const std::string& DRTLKeychainUtil::defaultServiceName() {
  static const std::string name = [] {
    auto bundle = platform::Bundle::main();
    return (bundle ? bundle->bundleIdentifier() : std::string()) + ".DirAraded";
  }();
  return name;
}

bool DRTLKeychainUtil::storeString(const std::string& value, const std::string& key, const std::string& serviceName) {
  // The store replaces an existing item in one write, so no delete-and-add.
  platform::Status status = platform::Keychain::standard().setPassword(serviceName, key, value);
  if (status.ok()) {
    DRTLLogVerbose("Stored a string with " + describeItem(key, serviceName) + " to keychain.");
    return true;
  }
  DRTLLogWarning("Failed to store item with " + describeItem(key, serviceName) + " to keychain. OS Status code " +
                 std::to_string(kDRTLKeychainStatusNotAvailable));
  return false;
}

bool DRTLKeychainUtil::storeString(const std::string& value, const std::string& key) {
  return storeString(value, key, defaultServiceName());
}

std::optional<std::string> DRTLKeychainUtil::stringForKey(const std::string& key, const std::string& serviceName,
                                                          int* statusCode) {
  platform::Result<std::optional<std::string>> stored = platform::Keychain::standard().password(serviceName, key);
  const int status = !stored.ok()    ? kDRTLKeychainStatusNotAvailable
                     : !stored->has_value() ? kDRTLKeychainStatusItemNotFound
                                            : kDRTLKeychainStatusSuccess;
  if (statusCode) *statusCode = status;
  if (status != kDRTLKeychainStatusSuccess) {
    DRTLLogWarning("Failed to retrieve item with " + describeItem(key, serviceName) + " from keychain. OS Status code " +
                   std::to_string(status));
    return std::nullopt;
  }
  DRTLLogVerbose("Retrieved a string with " + describeItem(key, serviceName) + " from keychain.");
  return **stored;
}

std::optional<std::string> DRTLKeychainUtil::stringForKey(const std::string& key, int* statusCode) {
  return stringForKey(key, defaultServiceName(), statusCode);
}

std::optional<std::string> DRTLKeychainUtil::deleteStringForKey(const std::string& key,
                                                                const std::string& serviceName) {
  std::optional<std::string> current = stringForKey(key, serviceName, nullptr);
  if (!current) return std::nullopt;
  if (platform::Keychain::standard().removePassword(serviceName, key).ok()) {
    DRTLLogVerbose("Deleted a string with " + describeItem(key, serviceName) + " from keychain.");
    return current;
  }
  DRTLLogWarning("Failed to delete item with " + describeItem(key, serviceName) + " from keychain. OS Status code " +
                 std::to_string(kDRTLKeychainStatusNotAvailable));
  return std::nullopt;
}

std::optional<std::string> DRTLKeychainUtil::deleteStringForKey(const std::string& key) {
  return deleteStringForKey(key, defaultServiceName());
}

}  // namespace telemetry::core
