#pragma once
// DRTLKeychainUtil: short secret strings (the token encryption keys) kept as
// generic passwords of the platform keychain, by service and key. Statuses
// follow the desktop keychain's numbers: 0 success, -25300 item not found,
// -25291 the store could not be used. Any thread; no lock of its own.

#include <optional>
#include <string>

namespace telemetry::core {

inline constexpr int kDRTLKeychainStatusSuccess = 0;
inline constexpr int kDRTLKeychainStatusItemNotFound = -25300;
inline constexpr int kDRTLKeychainStatusNotAvailable = -25291;

class DRTLKeychainUtil {
 public:
  // "<bundle identifier>.DirAraded", worked out once per process.
  static const std::string& defaultServiceName();

  static bool storeString(const std::string& value, const std::string& key, const std::string& serviceName);
  static bool storeString(const std::string& value, const std::string& key);
  static std::optional<std::string> stringForKey(const std::string& key, const std::string& serviceName,
                                                 int* statusCode);
  static std::optional<std::string> stringForKey(const std::string& key, int* statusCode);
  // The deleted string, none when there was none or the delete failed.
  static std::optional<std::string> deleteStringForKey(const std::string& key, const std::string& serviceName);
  static std::optional<std::string> deleteStringForKey(const std::string& key);
};

}  // namespace telemetry::core
