#include "telemetry/core/DRTLAbstractLog.h"

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLUtility.h"

namespace telemetry::core {

std::optional<std::string> serializeJSON(const DRTLJSON& value, bool prettyPrint) {
  try {
    return value.dump(prettyPrint ? 2 : -1, ' ', false, DRTLJSON::error_handler_t::strict);
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

DRTLJSON DRTLAbstractLog::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  dictionary.get_ref<DRTLJSON::object_t&>().reserve(8);  // these six and a subclass's part
  if (type) appendNewKey(dictionary, "type", *type);
  if (timestamp) appendNewKey(dictionary, "timestamp", DRTLUtility::dateToISO8601(*timestamp));
  if (sid) appendNewKey(dictionary, "sid", *sid);
  if (distributionGroupId) appendNewKey(dictionary, "distributionGroupId", *distributionGroupId);
  if (userId) appendNewKey(dictionary, "userId", *userId);
  if (device) appendNewKey(dictionary, "device", device->serializeToDictionary());
  return dictionary;
}

std::optional<std::string> DRTLAbstractLog::serializeLogWithPrettyPrinting(bool prettyPrint) const {
  return serializeJSON(serializeToDictionary(), prettyPrint);
}

bool DRTLAbstractLog::isValid() const {
  const char* missing = !type ? "type" : !timestamp ? "timestamp" : (!device || !device->isValid()) ? "device" : nullptr;
  if (!missing) return true;
  logInvalidProperty(className(), missing);
  return false;
}

bool DRTLAbstractLog::isEqual(const DRTLAbstractLog* other) const {
  if (!other) return false;
  const bool devicesEqual = (!device && !other->device) || (device && device->isEqual(other->device.get()));
  return tag == other->tag && type == other->type && timestamp == other->timestamp && sid == other->sid &&
         distributionGroupId == other->distributionGroupId && userId == other->userId && devicesEqual;
}

std::optional<std::set<std::string>> DRTLAbstractLog::transmissionTargetTokens() const {
  std::lock_guard lock(tokensMutex_);
  return transmissionTargetTokens_;
}

void DRTLAbstractLog::setTransmissionTargetTokens(std::optional<std::set<std::string>> tokens) {
  std::lock_guard lock(tokensMutex_);
  transmissionTargetTokens_ = std::move(tokens);
}

void DRTLAbstractLog::addTransmissionTargetToken(const std::string& token) {
  std::lock_guard lock(tokensMutex_);
  std::set<std::string> copy = transmissionTargetTokens_.value_or(std::set<std::string>());
  copy.insert(token);
  transmissionTargetTokens_ = std::move(copy);
}

void DRTLAbstractLog::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "type", type);
  encodeDate(encoder, "timestamp", timestamp);
  encodeString(encoder, "sid", sid);
  encodeString(encoder, "distributionGroupId", distributionGroupId);
  encodeString(encoder, "userId", userId);
  encoder.encodeObject("device", device);
}

void DRTLAbstractLog::decode(const platform::KeyedArchiveDecoder& decoder) {
  type = decodeString(decoder, "type");
  timestamp = decodeDate(decoder, "timestamp");
  sid = decodeString(decoder, "sid");
  distributionGroupId = decodeString(decoder, "distributionGroupId");
  userId = decodeString(decoder, "userId");
  device.reset();
  if (decoder.contains("device")) {
    if (auto decoded = decoder.decodeObjectAs<DRTLDevice>("device"); decoded.ok()) device = std::move(*decoded);
  }
}

}  // namespace telemetry::core
