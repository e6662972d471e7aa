#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {
// Length and cut in code points, so a cut never splits a character.
std::size_t DRTLUtility::characterCount(std::string_view text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

std::string DRTLUtility::firstCharacters(std::string_view text, std::size_t limit) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == limit) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::map<std::string, std::string> DRTLUtility::validateProperties(const platform::Dictionary& properties,
                                                                   const std::string& logName,
                                                                   const std::string& type) {
  std::map<std::string, std::string> accepted;
  const std::string limit = std::to_string(kDRTLMaxPropertyLength);
  for (const auto& [rawKey, rawValue] : properties) {
    if (accepted.size() >= kDRTLMaxPropertiesPerLog) {
      DRTLLogWarning(type + " '" + logName + "' : properties cannot contain more than " +
                     std::to_string(kDRTLMaxPropertiesPerLog) + " items. Skipping other properties.");
      break;
    }
    if (!rawValue.isString()) continue;
    if (rawKey.empty()) {
      DRTLLogWarning(type + " '" + logName + "' : a property key cannot be null or empty. Property will be skipped.");
      continue;
    }
    std::string key = rawKey;
    std::string value = *rawValue.string();
    if (characterCount(key) > kDRTLMaxPropertyLength) {
      DRTLLogWarning(type + " '" + logName + "' : property " + key + " : property key length cannot be longer than " +
                     limit + " characters. Property key will be truncated.");
      key = firstCharacters(key, kDRTLMaxPropertyLength);
    }
    if (characterCount(value) > kDRTLMaxPropertyLength) {
      DRTLLogWarning(type + " '" + logName + "' : property '" + key + "' : property value cannot be longer than " +
                     limit + " characters. Property value will be truncated.");
      value = firstCharacters(value, kDRTLMaxPropertyLength);
    }
    accepted[key] = value;
  }
  return accepted;
}

std::string DRTLUtility::sdkName() { return "diraraded.linux"; }
std::string DRTLUtility::sdkVersion() { return "4.0.0"; }

}  // namespace telemetry::core
