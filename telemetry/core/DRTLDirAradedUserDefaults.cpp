#include "telemetry/core/DRTLDirAradedUserDefaults.h"

#include <mutex>

#include "platform/UserDefaults.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

std::mutex sharedMutex;
std::shared_ptr<DRTLDirAradedUserDefaults> sharedInstance;  // guarded by sharedMutex

}  // namespace

std::shared_ptr<DRTLDirAradedUserDefaults> DRTLDirAradedUserDefaults::shared() {
  std::lock_guard lock(sharedMutex);
  if (!sharedInstance) sharedInstance = std::make_shared<DRTLDirAradedUserDefaults>();
  return sharedInstance;
}

void DRTLDirAradedUserDefaults::resetSharedInstance() {
  std::lock_guard lock(sharedMutex);
  sharedInstance.reset();
}

std::string DRTLDirAradedUserDefaults::getDirAradedKeyFrom(std::string_view key) {
  return std::string(kDRTLUserDefaultsPrefix) + std::string(key);
}

platform::Value DRTLDirAradedUserDefaults::objectForKey(std::string_view key) const {
  return platform::UserDefaults::standard().objectForKey(getDirAradedKeyFrom(key));
}

void DRTLDirAradedUserDefaults::setObject(platform::Value value, std::string_view key) {
  platform::UserDefaults::standard().setObject(std::move(value), getDirAradedKeyFrom(key));
}

void DRTLDirAradedUserDefaults::removeObjectForKey(std::string_view key) {
  platform::UserDefaults::standard().removeObjectForKey(getDirAradedKeyFrom(key));
}

void DRTLDirAradedUserDefaults::migrateKeys(const MigrationMap& migrationKeys, std::string_view serviceName) {
  const std::string markerKey = "310" + std::string(serviceName) + "UserDefaultsMigratedKey";
  if (!objectForKey(markerKey).isNone()) return;
  DRTLLogVerbose(std::string("Migrating the old NSDefaults keys to new ones."));
  platform::UserDefaults& defaults = platform::UserDefaults::standard();
  for (const auto& [newKey, oldKey] : migrationKeys) {
    if (const auto* name = std::get_if<std::string>(&oldKey)) {
      swapKeys(*name, newKey, defaults.objectForKey(*name));
      continue;
    }
    const std::string& prefix = std::get<DRTLUserDefaultsPrefixKey>(oldKey).keyPrefix();
    for (const auto& [key, value] : defaults.dictionaryRepresentation()) {
      if (key.starts_with(prefix)) swapKeys(key, newKey + key.substr(prefix.size()), value);
    }
  }
  setObject(platform::Value(true), markerKey);
}

void DRTLDirAradedUserDefaults::swapKeys(const std::string& oldKey, const std::string& newKey,
                                         const platform::Value& value) {
  if (value.isNone()) return;
  platform::UserDefaults& defaults = platform::UserDefaults::standard();
  defaults.setObject(value, newKey);
  defaults.removeObjectForKey(oldKey);
  DRTLLogVerbose("Migrating key " + oldKey + " -> " + newKey);
}

}  // namespace telemetry::core
