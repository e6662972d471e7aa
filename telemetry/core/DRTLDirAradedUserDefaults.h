#pragma once
// DRTLDirAradedUserDefaults: the one access point to the telemetry client's
// persistent settings. Callers use short keys ("InstallId"); the store keeps
// them in the standard user defaults under "DRDirAraded" + key, and moves the
// values of older key names once per service (migrateKeys).
//
// Threads: any (the standard user defaults lock themselves). The shared
// instance is made once; resetSharedInstance drops it.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/Value.h"

namespace telemetry::core {

// Stands, in a migration map, for every old key that starts with keyPrefix.
class DRTLUserDefaultsPrefixKey {
 public:
  explicit DRTLUserDefaultsPrefixKey(std::string prefix) : keyPrefix_(std::move(prefix)) {}
  const std::string& keyPrefix() const { return keyPrefix_; }

 private:
  std::string keyPrefix_;
};

inline constexpr const char* kDRTLUserDefaultsPrefix = "DRDirAraded";

class DRTLDirAradedUserDefaults {
 public:
  // New (already prefixed) key -> old full key or old key prefix.
  using MigrationMap = std::map<std::string, std::variant<std::string, DRTLUserDefaultsPrefixKey>>;

  static std::shared_ptr<DRTLDirAradedUserDefaults> shared();
  static void resetSharedInstance();

  platform::Value objectForKey(std::string_view key) const;
  void setObject(platform::Value value, std::string_view key);
  void removeObjectForKey(std::string_view key);

  void migrateKeys(const MigrationMap& migrationKeys, std::string_view serviceName);
  void swapKeys(const std::string& oldKey, const std::string& newKey, const platform::Value& value);

  static std::string getDirAradedKeyFrom(std::string_view key);
};

}  // namespace telemetry::core
