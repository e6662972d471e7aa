#pragma once
// DRTLEventLog ("event"): a named log with an event id and optional typed
// properties. For a transmission target it converts to a Shared Schema log
// whose data is the property tree (names split at ".") and whose metadata
// extension holds the parallel tree of type ids under "f" keys. Built on the
// caller's thread, converted on the channel path.

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "telemetry/core/DRTLSharedSchemaLog.h"
#include "telemetry/services/analytics/DRTLEventProperties.h"
#include "telemetry/services/analytics/DRTLLogWithNameAndProperties.h"

namespace telemetry::analytics {

class DRTLEventLog : public DRTLLogWithNameAndProperties {
 public:
  DRTLEventLog() { type = "event"; }

  std::optional<std::string> eventId;
  std::shared_ptr<DRTLEventProperties> typedProperties;

  // Shared Schema type ids; "string" and "boolean" get no metadata.
  static const std::map<std::string, int>& metadataTypeIdMapping();

  core::DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const core::DRTLAbstractLog* other) const override;
  std::string className() const override { return "DRTLEventLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);

  std::shared_ptr<core::DRTLSharedSchemaLog> toSharedSchemaLogForTargetToken(const std::string& token,
                                                                             std::int64_t flags) const override;
  void setPropertiesAndMetadataForCSLog(core::DRTLSharedSchemaLog& log) const;
  // Places one property in both trees; a property that cannot be placed leaves
  // no metadata behind.
  static void addTypedPropertyToCSMetadataAndCSProperties(const core::DRTLTypedProperty& property,
                                                          core::DRTLJSON& metadata, core::DRTLJSON& properties);
  // False (with a warning) when there is no node or the key is taken.
  static bool addTypedPropertyToPropertyTree(const core::DRTLTypedProperty& property, core::DRTLJSON* node,
                                             const std::string& key);
};

}  // namespace telemetry::analytics
