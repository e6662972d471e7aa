#include "telemetry/core/DRTLDevice.h"

#include <iterator>

#include "telemetry/core/DRTLArchiveValues.h"
#include "telemetry/core/DRTLLogger.h"

namespace telemetry::core {
namespace {

using StringField = std::optional<std::string> DRTLWrapperSdk::*;
using DeviceStringField = std::optional<std::string> DRTLDevice::*;

struct NamedField {
  const char* key;
  StringField field;
};

constexpr NamedField kWrapperFields[] = {
    {"wrapperSdkVersion", &DRTLWrapperSdk::wrapperSdkVersion},
    {"wrapperSdkName", &DRTLWrapperSdk::wrapperSdkName},
    {"wrapperRuntimeVersion", &DRTLWrapperSdk::wrapperRuntimeVersion},
    {"ziraUpdateReleaseLabel", &DRTLWrapperSdk::ziraUpdateReleaseLabel},
    {"ziraUpdateDeploymentKey", &DRTLWrapperSdk::ziraUpdateDeploymentKey},
    {"ziraUpdatePackageHash", &DRTLWrapperSdk::ziraUpdatePackageHash},
};

// The device's own fields in wire order; integers are the two null entries.
struct DeviceField {
  const char* key;
  DeviceStringField text;
  std::optional<std::int64_t> DRTLDevice::*number;
};

constexpr DeviceField kDeviceFields[] = {
    {"sdkName", &DRTLDevice::sdkName, nullptr},
    {"sdkVersion", &DRTLDevice::sdkVersion, nullptr},
    {"model", &DRTLDevice::model, nullptr},
    {"oemName", &DRTLDevice::oemName, nullptr},
    {"osName", &DRTLDevice::osName, nullptr},
    {"osVersion", &DRTLDevice::osVersion, nullptr},
    {"osBuild", &DRTLDevice::osBuild, nullptr},
    {"osApiLevel", nullptr, &DRTLDevice::osApiLevel},
    {"locale", &DRTLDevice::locale, nullptr},
    {"timeZoneOffset", nullptr, &DRTLDevice::timeZoneOffset},
    {"screenSize", &DRTLDevice::screenSize, nullptr},
    {"appVersion", &DRTLDevice::appVersion, nullptr},
    {"carrierName", &DRTLDevice::carrierName, nullptr},
    {"carrierCountry", &DRTLDevice::carrierCountry, nullptr},
    {"appBuild", &DRTLDevice::appBuild, nullptr},
    {"appNamespace", &DRTLDevice::appNamespace, nullptr},
};

constexpr const char* kRequiredDeviceFields[] = {"sdkName",  "sdkVersion",     "osName",     "osVersion",
                                                 "locale",   "timeZoneOffset", "appVersion", "appBuild"};

bool isPresent(const DRTLDevice& device, const DeviceField& field) {
  return field.text ? (device.*field.text).has_value() : (device.*field.number).has_value();
}

}  // namespace

void logInvalidProperty(const std::string& className, const std::string& property) {
  DRTLLogVerbose(className + ": \"" + property + "\" is not valid.");
}

DRTLWrapperSdk::DRTLWrapperSdk(std::optional<std::string> version, std::optional<std::string> name,
                               std::optional<std::string> runtimeVersion, std::optional<std::string> releaseLabel,
                               std::optional<std::string> deploymentKey, std::optional<std::string> packageHash)
    : wrapperSdkVersion(std::move(version)),
      wrapperSdkName(std::move(name)),
      wrapperRuntimeVersion(std::move(runtimeVersion)),
      ziraUpdateReleaseLabel(std::move(releaseLabel)),
      ziraUpdateDeploymentKey(std::move(deploymentKey)),
      ziraUpdatePackageHash(std::move(packageHash)) {}

DRTLJSON DRTLWrapperSdk::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLJSON::object();
  for (const NamedField& field : kWrapperFields) {
    if (this->*field.field) appendNewKey(dictionary, field.key, *(this->*field.field));
  }
  return dictionary;
}

bool DRTLWrapperSdk::isEqual(const DRTLWrapperSdk* other) const {
  if (!other) return false;
  for (const NamedField& field : kWrapperFields) {
    if (this->*field.field != other->*field.field) return false;
  }
  return true;
}

void DRTLWrapperSdk::encode(platform::KeyedArchiveEncoder& encoder) const {
  for (const NamedField& field : kWrapperFields) encodeString(encoder, field.key, this->*field.field);
}

void DRTLWrapperSdk::decode(const platform::KeyedArchiveDecoder& decoder) {
  for (const NamedField& field : kWrapperFields) this->*field.field = decodeString(decoder, field.key);
}

DRTLJSON DRTLDevice::serializeToDictionary() const {
  DRTLJSON dictionary = DRTLWrapperSdk::serializeToDictionary();
  dictionary.get_ref<DRTLJSON::object_t&>().reserve(dictionary.size() + std::size(kDeviceFields));
  // The device's keys differ from the wrapper's.
  for (const DeviceField& field : kDeviceFields) {
    if (!isPresent(*this, field)) continue;
    if (field.text) {
      appendNewKey(dictionary, field.key, *(this->*field.text));
    } else {
      appendNewKey(dictionary, field.key, *(this->*field.number));
    }
  }
  return dictionary;
}

bool DRTLDevice::isValid() const {
  if (!DRTLWrapperSdk::isValid()) return false;
  for (const char* required : kRequiredDeviceFields) {
    for (const DeviceField& field : kDeviceFields) {
      if (std::string_view(field.key) == required && !isPresent(*this, field)) {
        logInvalidProperty(className(), required);
        return false;
      }
    }
  }
  return true;
}

bool DRTLDevice::isEqual(const DRTLWrapperSdk* other) const {
  const auto* device = dynamic_cast<const DRTLDevice*>(other);
  if (!device || !DRTLWrapperSdk::isEqual(other)) return false;
  for (const DeviceField& field : kDeviceFields) {
    if (field.text ? this->*field.text != device->*field.text : this->*field.number != device->*field.number) {
      return false;
    }
  }
  return true;
}

void DRTLDevice::encode(platform::KeyedArchiveEncoder& encoder) const {
  DRTLWrapperSdk::encode(encoder);
  for (const DeviceField& field : kDeviceFields) {
    if (field.text) {
      encodeString(encoder, field.key, this->*field.text);
    } else {
      encodeInteger(encoder, field.key, this->*field.number);
    }
  }
}

void DRTLDevice::decode(const platform::KeyedArchiveDecoder& decoder) {
  DRTLWrapperSdk::decode(decoder);
  for (const DeviceField& field : kDeviceFields) {
    if (field.text) {
      this->*field.text = decodeString(decoder, field.key);
    } else {
      this->*field.number = decodeInteger(decoder, field.key);
    }
  }
}

}  // namespace telemetry::core
