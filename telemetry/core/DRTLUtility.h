#pragma once
// DRTLUtility: the stateless helpers the telemetry core shares. Class
// operations only; grouped by the files that implement them:
//   DRTLUtilityStringFormatting.cpp  configuration strings, keys, digest, JSON, masking
//   DRTLUtilityDates.cpp             millisecond clock and ISO 8601 texts
//   DRTLUtilityProperties.cpp        string property validation, SDK name and version
//   DRTLUtilityApplication.cpp       application state and opening URLs
//   DRTLUtilityArchiving.cpp         keyed archives and the legacy class table
//   DRTLUtilityFile.cpp              files under the SDK directory
//
// Threads: any. The legacy class table and the SDK directory are guarded.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyedArchive.h"
#include "platform/Value.h"

namespace telemetry::core {

// Application state codes.
enum DRTLApplicationState : int {
  DRTLApplicationStateActive = 0,
  DRTLApplicationStateBackground = 2,
  DRTLApplicationStateUnknown = 3,
};

class DRTLUtility {
 public:
  // Configuration string.
  static std::optional<std::string> appSecretFrom(const std::optional<std::string>& configuration);
  static std::optional<std::string> transmissionTargetTokenFrom(const std::optional<std::string>& configuration);
  static std::optional<std::string> targetKeyFromTargetToken(const std::optional<std::string>& token);
  static std::optional<std::string> iKeyFromTargetToken(const std::optional<std::string>& token);

  // 64 lower-case hex digits of the SHA-256 of the text's bytes.
  static std::string sha256(std::string_view text);
  // Pretty JSON with "/" unescaped; the bytes as text when they are not JSON.
  static std::optional<std::string> prettyPrintJson(const std::optional<std::string>& data);
  // Case-insensitive ICU regular expression replace-all; none (with an ERROR
  // line) when the pattern does not compile.
  static std::optional<std::string> obfuscateString(const std::optional<std::string>& text, const std::string& pattern,
                                                    const std::string& replacementTemplate);

  // Wall time (platform::Clock::wallNow) in milliseconds since 1970, fraction kept.
  static double nowInMilliseconds();
  // "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC; parsing accepts only that form.
  static std::string dateToISO8601(platform::Date date);
  static std::optional<platform::Date> dateFromISO8601(std::string_view text);

  static int currentAppEnvironment() { return 99; }
  // No provisioning profile or store receipt exists on this platform.
  static bool hasEmbeddedMobileProvision() { return false; }
  static bool isAppStoreReceiptSandbox() { return false; }

  // Accepted pairs (at most 20; keys and values cut to 125 characters).
  static std::map<std::string, std::string> validateProperties(const platform::Dictionary& properties,
                                                               const std::string& logName, const std::string& type);

  // Length in code points, and the first `limit` of them (a cut never splits one).
  static std::size_t characterCount(std::string_view text);
  static std::string firstCharacters(std::string_view text, std::size_t limit);

  static std::string sdkName();
  static std::string sdkVersion();

  // Application state. The window layer installs the provider (answering
  // whether the application is hidden); without one the application counts
  // as shown. Off the main thread the answer is unknown (3).
  static int applicationState();
  static int sharedAppState();
  static void setApplicationHiddenProvider(std::function<bool()> provider);
  // Opens the URL with "xdg-open" (argv, no shell) from the main queue and
  // calls the handler there with whether the opener succeeded.
  static void sharedAppOpenUrl(const std::string& url, std::function<void(bool)> completionHandler);

  // Keyed archives: XML property-list bytes of a platform keyed archive. Dates
  // inside are reals (seconds since 1970). None, with the ERROR line, on failure.
  static std::optional<std::string> archiveKeyedData(const platform::Archivable* object);
  // The same into `bytes`, keeping its storage; false (and the ERROR line) on failure.
  static bool archiveKeyedData(const platform::Archivable* object, std::string& bytes);
  static std::shared_ptr<platform::Archivable> unarchiveKeyedData(const std::optional<std::string>& data);
  // Old class name -> current class name (already registered).
  static void addMigrationClasses(const std::map<std::string, std::string>& migrationClasses);
  // The registry the telemetry classes register their decoders in.
  static platform::KeyedArchiveRegistry& archiveRegistry();

  // Files below the SDK directory
  // (platform::userApplicationSupportFolder()/<bundle identifier>/TelemetryCore).
  static std::filesystem::path dirAradedDirectoryURL();
  static std::optional<std::filesystem::path> fullURLForPathComponent(const std::optional<std::string>& component);
  static std::optional<std::filesystem::path> createFileAtPathComponent(const std::optional<std::string>& component,
                                                                        const std::optional<std::string>& data,
                                                                        bool atomically, bool forceOverwrite);
  static std::optional<std::filesystem::path> createDirectoryForPathComponent(
      const std::optional<std::string>& component);
  static bool createDirectoryAtURL(const std::optional<std::filesystem::path>& url);
  static bool deleteItemForPathComponent(const std::optional<std::string>& component);
  static bool deleteFileAtURL(const std::optional<std::filesystem::path>& url);
  static bool fileExistsForPathComponent(const std::optional<std::string>& component);
  static std::optional<std::string> loadDataForPathComponent(const std::optional<std::string>& component);
  static std::optional<std::vector<std::filesystem::path>> contentsOfDirectory(
      const std::optional<std::string>& component);
};

// The SDK-wide limits of string properties.
inline constexpr std::size_t kDRTLMaxPropertiesPerLog = 20;
inline constexpr std::size_t kDRTLMaxPropertyLength = 125;

}  // namespace telemetry::core
