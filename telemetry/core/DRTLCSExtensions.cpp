#include "telemetry/core/DRTLCSExtensions.h"

#include <typeinfo>

#include "telemetry/core/DRTLArchiveValues.h"

namespace telemetry::core {
namespace {

void addIfSet(DRTLJSON& dictionary, const char* key, const std::optional<std::string>& value) {
  if (value) dictionary[key] = *value;
}

std::optional<DRTLJSON> unlessEmpty(DRTLJSON dictionary) {
  if (dictionary.empty()) return std::nullopt;
  return dictionary;
}

template <typename T>
const T* sameClass(const DRTLCSExtensionPart* other) {
  return other && typeid(*other) == typeid(T) ? static_cast<const T*>(other) : nullptr;
}

// Both absent, or both present and equal by `equal`.
template <typename T, typename Equal>
bool bothAbsentOr(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b, Equal equal) {
  if (!a || !b) return !a && !b;
  return equal(*a, *b);
}

// Property trees compare as dictionaries: key order does not count.
bool sameTree(const std::optional<DRTLJSON>& a, const std::optional<DRTLJSON>& b) {
  if (!a || !b) return !a && !b;
  return nlohmann::json(*a) == nlohmann::json(*b);
}

}  // namespace

platform::Value propertyListFromJSON(const DRTLJSON& json) {
  switch (json.type()) {
    case DRTLJSON::value_t::object: {
      platform::Dictionary dictionary;
      for (const auto& [key, value] : json.items()) {
        if (!value.is_null()) dictionary[key] = propertyListFromJSON(value);
      }
      return platform::Value(std::move(dictionary));
    }
    case DRTLJSON::value_t::array: {
      platform::Array array;
      for (const auto& value : json) {
        if (!value.is_null()) array.push_back(propertyListFromJSON(value));
      }
      return platform::Value(std::move(array));
    }
    case DRTLJSON::value_t::string: return platform::Value(json.get<std::string>());
    case DRTLJSON::value_t::boolean: return platform::Value(json.get<bool>());
    case DRTLJSON::value_t::number_integer: return platform::Value(json.get<std::int64_t>());
    case DRTLJSON::value_t::number_unsigned: {
      const auto number = json.get<std::uint64_t>();
      return number <= static_cast<std::uint64_t>(INT64_MAX) ? platform::Value(static_cast<std::int64_t>(number))
                                                              : platform::Value(static_cast<double>(number));
    }
    case DRTLJSON::value_t::number_float: return platform::Value(json.get<double>());
    default: return {};
  }
}

DRTLJSON jsonFromPropertyList(const platform::Value& value) {
  switch (value.type()) {
    case platform::Value::Type::Dictionary: {
      DRTLJSON object = DRTLJSON::object();
      for (const auto& [key, entry] : *value.dictionary()) object[key] = jsonFromPropertyList(entry);
      return object;
    }
    case platform::Value::Type::Array: {
      DRTLJSON array = DRTLJSON::array();
      for (const auto& entry : *value.array()) array.push_back(jsonFromPropertyList(entry));
      return array;
    }
    case platform::Value::Type::String: return *value.string();
    case platform::Value::Type::Integer: return *value.integer();
    case platform::Value::Type::Real: return *value.real();
    case platform::Value::Type::Boolean: return *value.boolean();
    default: return nullptr;
  }
}

std::optional<DRTLJSON> DRTLProtocolExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  if (ticketKeys) dictionary["ticketKeys"] = *ticketKeys;
  addIfSet(dictionary, "devMake", devMake);
  addIfSet(dictionary, "devModel", devModel);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLProtocolExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLProtocolExtension>(other);
  return same && ticketKeys == same->ticketKeys && devMake == same->devMake && devModel == same->devModel;
}
void DRTLProtocolExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  if (ticketKeys) {
    platform::Array keys(ticketKeys->begin(), ticketKeys->end());
    encoder.encodeValue("ticketKeys", platform::Value(std::move(keys)));
  }
  encodeString(encoder, "devMake", devMake);
  encodeString(encoder, "devModel", devModel);
}
void DRTLProtocolExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  ticketKeys.reset();
  if (const platform::Array* keys = decoder.value("ticketKeys").array()) {
    ticketKeys.emplace();
    for (const auto& key : *keys) {
      if (key.isString()) ticketKeys->push_back(*key.string());
    }
  }
  devMake = decodeString(decoder, "devMake");
  devModel = decodeString(decoder, "devModel");
}

std::optional<DRTLJSON> DRTLAppExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "id", appId);
  addIfSet(dictionary, "ver", ver);
  addIfSet(dictionary, "name", name);
  addIfSet(dictionary, "locale", locale);
  addIfSet(dictionary, "userId", userId);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLAppExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLAppExtension>(other);
  return same && appId == same->appId && ver == same->ver && name == same->name && locale == same->locale &&
         userId == same->userId;
}
void DRTLAppExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "id", appId);
  encodeString(encoder, "ver", ver);
  encodeString(encoder, "name", name);
  encodeString(encoder, "locale", locale);
  encodeString(encoder, "userId", userId);
}
void DRTLAppExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  appId = decodeString(decoder, "id");
  ver = decodeString(decoder, "ver");
  name = decodeString(decoder, "name");
  locale = decodeString(decoder, "locale");
  userId = decodeString(decoder, "userId");
}

std::optional<DRTLJSON> DRTLNetExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "provider", provider);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLNetExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLNetExtension>(other);
  return same && provider == same->provider;
}
void DRTLNetExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "provider", provider);
}
void DRTLNetExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  provider = decodeString(decoder, "provider");
}

std::optional<DRTLJSON> DRTLMetadataExtension::serializeToDictionary() const {
  if (!metadata || !metadata->is_object()) return std::nullopt;
  return unlessEmpty(*metadata);
}
bool DRTLMetadataExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLMetadataExtension>(other);
  return same && sameTree(metadata, same->metadata);
}
void DRTLMetadataExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  if (metadata) encoder.encodeValue("root", propertyListFromJSON(*metadata));
}
void DRTLMetadataExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  metadata.reset();
  if (decoder.value("root").isDictionary()) metadata = jsonFromPropertyList(decoder.value("root"));
}

std::optional<DRTLJSON> DRTLUserExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "localId", localId);
  addIfSet(dictionary, "locale", locale);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLUserExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLUserExtension>(other);
  return same && localId == same->localId && locale == same->locale;
}
void DRTLUserExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "localId", localId);
  encodeString(encoder, "locale", locale);
}
void DRTLUserExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  localId = decodeString(decoder, "localId");
  locale = decodeString(decoder, "locale");
}

std::optional<DRTLJSON> DRTLDeviceExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "localId", localId);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLDeviceExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLDeviceExtension>(other);
  return same && localId == same->localId;
}
void DRTLDeviceExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "localId", localId);
}
void DRTLDeviceExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  localId = decodeString(decoder, "localId");
}

std::optional<DRTLJSON> DRTLOSExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "name", name);
  addIfSet(dictionary, "ver", ver);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLOSExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLOSExtension>(other);
  return same && name == same->name && ver == same->ver;
}
void DRTLOSExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "name", name);
  encodeString(encoder, "ver", ver);
}
void DRTLOSExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  name = decodeString(decoder, "name");
  ver = decodeString(decoder, "ver");
}

std::optional<DRTLJSON> DRTLSDKExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "libVer", libVer);
  addIfSet(dictionary, "epoch", epoch);
  if (seq != 0) dictionary["seq"] = seq;
  addIfSet(dictionary, "installId", installId);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLSDKExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLSDKExtension>(other);
  return same && libVer == same->libVer && epoch == same->epoch && seq == same->seq && installId == same->installId;
}
void DRTLSDKExtension::encode(platform::KeyedArchiveEncoder& encoder) const {
  encodeString(encoder, "libVer", libVer);
  encodeString(encoder, "epoch", epoch);
  encoder.encodeValue("seq", platform::Value(seq));
  encodeString(encoder, "installId", installId);
}
void DRTLSDKExtension::decode(const platform::KeyedArchiveDecoder& decoder) {
  libVer = decodeString(decoder, "libVer");
  epoch = decodeString(decoder, "epoch");
  seq = decodeInteger(decoder, "seq").value_or(0);
  installId = decodeString(decoder, "installId");
}

std::optional<DRTLJSON> DRTLLocExtension::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  addIfSet(dictionary, "tz", tz);
  return unlessEmpty(std::move(dictionary));
}
bool DRTLLocExtension::isEqual(const DRTLCSExtensionPart* other) const {
  const auto* same = sameClass<DRTLLocExtension>(other);
  return same && tz == same->tz;
}
void DRTLLocExtension::encode(platform::KeyedArchiveEncoder& encoder) const { encodeString(encoder, "tz", tz); }
void DRTLLocExtension::decode(const platform::KeyedArchiveDecoder& decoder) { tz = decodeString(decoder, "tz"); }

std::optional<DRTLOrderedDictionary> DRTLCSData::serializeToDictionary() const {
  if (!properties || !properties->is_object()) return std::nullopt;
  DRTLOrderedDictionary dictionary;
  for (const char* first : {"baseType", "baseData"}) {
    if (properties->contains(first)) dictionary.setObject((*properties)[first], first);
  }
  for (const auto& [key, value] : properties->items()) dictionary.setObject(value, key);
  return dictionary;
}
bool DRTLCSData::isEqual(const DRTLCSData* other) const { return other && sameTree(properties, other->properties); }
void DRTLCSData::encode(platform::KeyedArchiveEncoder& encoder) const {
  if (properties) encoder.encodeValue("root", propertyListFromJSON(*properties));
}
void DRTLCSData::decode(const platform::KeyedArchiveDecoder& decoder) {
  properties.reset();
  if (decoder.value("root").isDictionary()) properties = jsonFromPropertyList(decoder.value("root"));
}

std::vector<DRTLCSExtensions::Slot> DRTLCSExtensions::slots() const {
  return {{"metadata", "metadataExt", metadataExt}, {"protocol", "protocolExt", protocolExt},
          {"user", "userExt", userExt},             {"device", "deviceExt", deviceExt},
          {"os", "osExt", osExt},                   {"app", "appExt", appExt},
          {"net", "netExt", netExt},                {"sdk", "sdkExt", sdkExt},
          {"loc", "locExt", locExt}};
}

DRTLJSON DRTLCSExtensions::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  for (const Slot& slot : slots()) {
    if (!slot.part) continue;
    if (std::optional<DRTLJSON> part = slot.part->serializeToDictionary()) dictionary[slot.key] = std::move(*part);
  }
  return dictionary;
}

bool DRTLCSExtensions::isValid() const {
  for (const Slot& slot : slots()) {
    if (slot.part && !slot.part->isValid()) {
      logInvalidProperty(className(), slot.fieldName);
      return false;
    }
  }
  return true;
}

bool DRTLCSExtensions::isEqual(const DRTLCSExtensions* other) const {
  if (!other) return false;
  const std::vector<Slot> mine = slots(), theirs = other->slots();
  for (std::size_t i = 0; i < mine.size(); ++i) {
    if (!bothAbsentOr(mine[i].part, theirs[i].part,
                      [](const DRTLCSExtensionPart& a, const DRTLCSExtensionPart& b) { return a.isEqual(&b); })) {
      return false;
    }
  }
  return true;
}

void DRTLCSExtensions::encode(platform::KeyedArchiveEncoder& encoder) const {
  for (const Slot& slot : slots()) encoder.encodeObject(slot.key, slot.part.get());
}

namespace {

template <typename T>
std::shared_ptr<T> decodePart(const platform::KeyedArchiveDecoder& decoder, const char* key) {
  if (!decoder.contains(key)) return nullptr;
  auto part = decoder.decodeObjectAs<T>(key);
  return part.ok() ? std::move(*part) : nullptr;
}

}  // namespace

void DRTLCSExtensions::decode(const platform::KeyedArchiveDecoder& decoder) {
  metadataExt = decodePart<DRTLMetadataExtension>(decoder, "metadata");
  protocolExt = decodePart<DRTLProtocolExtension>(decoder, "protocol");
  userExt = decodePart<DRTLUserExtension>(decoder, "user");
  deviceExt = decodePart<DRTLDeviceExtension>(decoder, "device");
  osExt = decodePart<DRTLOSExtension>(decoder, "os");
  appExt = decodePart<DRTLAppExtension>(decoder, "app");
  netExt = decodePart<DRTLNetExtension>(decoder, "net");
  sdkExt = decodePart<DRTLSDKExtension>(decoder, "sdk");
  locExt = decodePart<DRTLLocExtension>(decoder, "loc");
}

}  // namespace telemetry::core
