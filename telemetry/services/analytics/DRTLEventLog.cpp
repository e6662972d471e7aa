#include "telemetry/services/analytics/DRTLEventLog.h"

#include <string_view>
#include <vector>

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLLogger.h"
#include "telemetry/core/DRTLUtility.h"
#include "telemetry/services/analytics/DRTLAnalyticsConstants.h"

namespace telemetry::analytics {
namespace {

constexpr std::string_view kBaseType = "baseType";
constexpr std::string_view kBaseData = "baseData";

bool startsWithObjectOf(const std::string& name, std::string_view prefix) {
  return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 && name[prefix.size()] == '.';
}

void warn(const std::string& text) { DRTL_LOG(core::DRTLLogLevelWarning, kDRTLAnalyticsLogTag, text); }

std::vector<std::string> splitAtDots(const std::string& name) {
  std::vector<std::string> segments(1);
  for (char c : name) {
    if (c == '.') {
      segments.emplace_back();
    } else {
      segments.back() += c;
    }
  }
  return segments;
}

// Applies the "baseType"/"baseData" pairing rules to the working copy.
void pairReservedProperties(DRTLTypedPropertyMap& properties) {
  auto baseType = properties.find(std::string(kBaseType));
  const bool typeIsString = baseType != properties.end() &&
                            dynamic_cast<const core::DRTLStringTypedProperty*>(baseType->second.get()) != nullptr;
  bool anyBaseData = false;
  for (const auto& [key, property] : properties) anyBaseData = anyBaseData || startsWithObjectOf(key, kBaseData);
  if (!typeIsString) {
    if (std::erase_if(properties, [](const auto& entry) { return startsWithObjectOf(entry.first, kBaseData); }) > 0) {
      warn("baseData was set but baseType is missing or invalid.");
    }
    properties.erase(std::string(kBaseType));
  } else if (!anyBaseData) {
    warn("baseType was set but baseData is missing.");
    properties.erase(baseType);
  }
}

}  // namespace

const std::map<std::string, int>& DRTLEventLog::metadataTypeIdMapping() {
  static const std::map<std::string, int> mapping{{"long", 4}, {"double", 6}, {"dateTime", 9}};
  return mapping;
}

core::DRTLJSON DRTLEventLog::serializeToDictionary() const {
  core::DRTLJSON dictionary = DRTLLogWithNameAndProperties::serializeToDictionary();
  if (eventId) dictionary["id"] = *eventId;
  if (typedProperties) dictionary["typedProperties"] = typedProperties->serializeToArray();
  return dictionary;
}

bool DRTLEventLog::isValid() const {
  if (!DRTLLogWithNameAndProperties::isValid()) return false;
  if (eventId) return true;
  core::logInvalidProperty(className(), "eventId");
  return false;
}

bool DRTLEventLog::isEqual(const core::DRTLAbstractLog* other) const {
  const auto* same = dynamic_cast<const DRTLEventLog*>(other);
  return same && DRTLLogWithNameAndProperties::isEqual(other) && eventId == same->eventId;
}

void DRTLEventLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLLogWithNameAndProperties::encode(encoder);
  core::encodeString(encoder, "id", eventId);
  if (typedProperties) encoder.encodeObject("typedProperties", typedProperties);
}

void DRTLEventLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLLogWithNameAndProperties::decode(decoder);
  eventId = core::decodeString(decoder, "id");
  typedProperties.reset();
  if (decoder.contains("typedProperties")) {
    auto decoded = decoder.decodeObjectAs<DRTLEventProperties>("typedProperties");
    if (decoded.ok()) typedProperties = *decoded;
  }
}

std::shared_ptr<core::DRTLSharedSchemaLog> DRTLEventLog::toSharedSchemaLogForTargetToken(const std::string& token,
                                                                                        std::int64_t flags) const {
  auto log = DRTLLogWithNameAndProperties::toSharedSchemaLogForTargetToken(token, flags);
  log->name = name;
  setPropertiesAndMetadataForCSLog(*log);
  log->tag = tag;
  return log;
}

void DRTLEventLog::setPropertiesAndMetadataForCSLog(core::DRTLSharedSchemaLog& log) const {
  if (!typedProperties) return;
  // The reserved-name rules act on a copy: the host's container keeps its entries.
  DRTLTypedPropertyMap properties = typedProperties->properties();
  pairReservedProperties(properties);
  core::DRTLJSON propertyTree = core::DRTLJSON::object();
  core::DRTLJSON metadataTree = core::DRTLJSON::object();
  for (const auto& [key, property] : properties) {
    if (startsWithObjectOf(key, kBaseType)) {
      warn("baseType must not be an object.");
    } else if (key == kBaseData) {
      warn("baseData must be an object.");
    } else {
      addTypedPropertyToCSMetadataAndCSProperties(*property, metadataTree, propertyTree);
    }
  }
  if (!propertyTree.empty()) {
    log.data = std::make_shared<core::DRTLCSData>();
    log.data->properties = std::move(propertyTree);
  }
  if (!metadataTree.empty()) {
    if (!log.ext) log.ext = std::make_shared<core::DRTLCSExtensions>();
    log.ext->metadataExt = std::make_shared<core::DRTLMetadataExtension>();
    log.ext->metadataExt->metadata = std::move(metadataTree);
  }
}

void DRTLEventLog::addTypedPropertyToCSMetadataAndCSProperties(const core::DRTLTypedProperty& property,
                                                                core::DRTLJSON& metadata,
                                                                core::DRTLJSON& properties) {
  std::optional<int> typeId;
  if (property.type) {
    auto found = metadataTypeIdMapping().find(*property.type);
    if (found != metadataTypeIdMapping().end()) typeId = found->second;
  }
  std::vector<std::string> segments = splitAtDots(property.name.value_or(""));
  const std::string leaf = segments.back();
  segments.pop_back();

  core::DRTLJSON* propertyNode = &properties;
  core::DRTLJSON* metadataNode = &metadata;
  core::DRTLJSON* firstCreatedF = nullptr;  // the node in which this call first made an "f"
  for (const std::string& segment : segments) {
    if (propertyNode) {
      auto found = propertyNode->find(segment);
      if (found == propertyNode->end()) {
        propertyNode = &((*propertyNode)[segment] = core::DRTLJSON::object());
      } else {
        propertyNode = found->is_object() ? &*found : nullptr;
      }
    }
    if (typeId) {
      if (!metadataNode->contains("f")) {
        (*metadataNode)["f"] = core::DRTLJSON::object();
        if (!firstCreatedF) firstCreatedF = metadataNode;
      }
      core::DRTLJSON& fields = (*metadataNode)["f"];
      if (!fields.contains(segment)) fields[segment] = core::DRTLJSON::object();
      metadataNode = &fields[segment];
    }
  }
  const bool stored = addTypedPropertyToPropertyTree(property, propertyNode, leaf);
  if (typeId && stored) {
    if (!metadataNode->contains("f")) (*metadataNode)["f"] = core::DRTLJSON::object();
    (*metadataNode)["f"][leaf] = *typeId;
  } else if (firstCreatedF) {
    firstCreatedF->erase("f");
  }
}

bool DRTLEventLog::addTypedPropertyToPropertyTree(const core::DRTLTypedProperty& property, core::DRTLJSON* node,
                                                  const std::string& key) {
  if (!node || node->contains(key)) {
    warn("Property key '" + key + "' already has a value, choosing one.");
    return false;
  }
  if (const auto* text = dynamic_cast<const core::DRTLStringTypedProperty*>(&property)) {
    if (text->value) (*node)[key] = *text->value;
  } else if (const auto* flag = dynamic_cast<const core::DRTLBooleanTypedProperty*>(&property)) {
    (*node)[key] = flag->value;
  } else if (const auto* number = dynamic_cast<const core::DRTLLongTypedProperty*>(&property)) {
    (*node)[key] = number->value;
  } else if (const auto* real = dynamic_cast<const core::DRTLDoubleTypedProperty*>(&property)) {
    (*node)[key] = real->value;
  } else if (const auto* date = dynamic_cast<const core::DRTLDateTimeTypedProperty*>(&property)) {
    if (date->value) (*node)[key] = core::DRTLUtility::dateToISO8601(*date->value);
  }
  return true;
}

}  // namespace telemetry::analytics
