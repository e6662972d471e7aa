#pragma once
// DRTLEventProperties: the typed properties of one event, keyed by their
// names. Setters check their arguments and refuse silently to the caller
// (after an ERROR line). The map is guarded by the container's own lock, so
// the host may keep setting while a log holding it is serialised.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLTypedProperty.h"

namespace telemetry::analytics {

using DRTLTypedPropertyMap = std::map<std::string, std::shared_ptr<const core::DRTLTypedProperty>>;

class DRTLEventProperties : public platform::Archivable {
 public:
  DRTLEventProperties() = default;
  // One string property per entry, unchecked.
  explicit DRTLEventProperties(const std::map<std::string, std::string>& strings);
  DRTLEventProperties(const DRTLEventProperties&) = delete;
  DRTLEventProperties& operator=(const DRTLEventProperties&) = delete;

  DRTLEventProperties& setString(const std::optional<std::string>& value, const std::optional<std::string>& key);
  DRTLEventProperties& setDouble(double value, const std::optional<std::string>& key);
  DRTLEventProperties& setInt64(std::int64_t value, const std::optional<std::string>& key);
  DRTLEventProperties& setBool(bool value, const std::optional<std::string>& key);
  DRTLEventProperties& setDate(const std::optional<platform::Date>& value, const std::optional<std::string>& key);

  static bool validateKey(const std::optional<std::string>& key);
  template <typename T>
  static bool validateValue(const std::optional<T>& value) {
    if (value) return true;
    logMissingValue();
    return false;
  }

  // A snapshot of the map.
  DRTLTypedPropertyMap properties() const;
  void setProperty(std::shared_ptr<const core::DRTLTypedProperty> property);
  void removeProperty(const std::string& key);
  core::DRTLJSON serializeToArray() const;
  bool isEmpty() const;
  // Entries of `other` win on equal keys.
  void mergeEventProperties(const DRTLEventProperties& other);
  bool isEqual(const DRTLEventProperties* other) const;

  std::string className() const override { return "DRTLEventProperties"; }
  // The properties as one array under "root"; each carries its own name.
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);

 private:
  static void logMissingValue();

  mutable std::mutex mutex_;
  DRTLTypedPropertyMap properties_;  // guarded by mutex_
};

}  // namespace telemetry::analytics
