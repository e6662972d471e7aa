#pragma once
// DRTLWrapperSdk and DRTLDevice: the description of the wrapper SDK a host may
// set, and of the device and application every log carries. Plain values:
// built by the device tracker, never changed once handed out, so any thread
// may read a shared one. Only set fields reach the JSON; keys keep the field
// order of the wire format.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/KeyedArchive.h"

namespace telemetry::core {

using DRTLJSON = nlohmann::ordered_json;

// Adds a key the object being built does not hold yet. An ordered object
// searches its keys one by one on every insert; this skips that search.
inline void appendNewKey(DRTLJSON& object, std::string key, DRTLJSON value) {
  object.get_ref<DRTLJSON::object_t&>().emplace_back(std::move(key), std::move(value));
}

class DRTLWrapperSdk : public platform::Archivable {
 public:
  DRTLWrapperSdk() = default;
  DRTLWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                 std::optional<std::string> wrapperRuntimeVersion, std::optional<std::string> ziraUpdateReleaseLabel,
                 std::optional<std::string> ziraUpdateDeploymentKey, std::optional<std::string> ziraUpdatePackageHash);

  std::optional<std::string> wrapperSdkVersion;
  std::optional<std::string> wrapperSdkName;
  std::optional<std::string> wrapperRuntimeVersion;
  std::optional<std::string> ziraUpdateReleaseLabel;
  std::optional<std::string> ziraUpdateDeploymentKey;
  std::optional<std::string> ziraUpdatePackageHash;

  virtual DRTLJSON serializeToDictionary() const;
  virtual bool isValid() const { return true; }
  // Same fields, and `other` is of this class or a subclass.
  virtual bool isEqual(const DRTLWrapperSdk* other) const;

  std::string className() const override { return "DRTLWrapperSdk"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLDevice : public DRTLWrapperSdk {
 public:
  std::optional<std::string> sdkName;
  std::optional<std::string> sdkVersion;
  std::optional<std::string> model;
  std::optional<std::string> oemName;
  std::optional<std::string> osName;
  std::optional<std::string> osVersion;
  std::optional<std::string> osBuild;
  std::optional<std::int64_t> osApiLevel;
  std::optional<std::string> locale;
  std::optional<std::int64_t> timeZoneOffset;
  std::optional<std::string> screenSize;
  std::optional<std::string> appVersion;
  std::optional<std::string> carrierName;
  std::optional<std::string> carrierCountry;
  std::optional<std::string> appBuild;
  std::optional<std::string> appNamespace;

  DRTLJSON serializeToDictionary() const override;
  bool isValid() const override;
  bool isEqual(const DRTLWrapperSdk* other) const override;

  std::string className() const override { return "DRTLDevice"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

// The VERBOSE line of a record that fails validation.
void logInvalidProperty(const std::string& className, const std::string& property);

}  // namespace telemetry::core
