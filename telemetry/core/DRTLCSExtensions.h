#pragma once
// The parts of a Shared Schema log: the extension parts, their container and
// the data part. Each part serialises only its set fields and to nothing
// (none) when no field is set, so the container leaves it out. Plain values
// built, stamped and stored on the channel group queue.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLDevice.h"
#include "telemetry/core/DRTLOrderedDictionary.h"

namespace telemetry::core {

// Base of the extension parts: every part is valid; equality needs the same
// class and equal fields.
class DRTLCSExtensionPart : public platform::Archivable {
 public:
  virtual std::optional<DRTLJSON> serializeToDictionary() const = 0;
  virtual bool isValid() const { return true; }
  virtual bool isEqual(const DRTLCSExtensionPart* other) const = 0;
  virtual void decode(const platform::KeyedArchiveDecoder& decoder) = 0;
};

class DRTLProtocolExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::vector<std::string>> ticketKeys;
  std::optional<std::string> devMake;
  std::optional<std::string> devModel;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLProtocolExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLAppExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> appId;  // JSON "id"
  std::optional<std::string> ver;
  std::optional<std::string> name;
  std::optional<std::string> locale;
  std::optional<std::string> userId;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLAppExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLNetExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> provider;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLNetExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

// Its dictionary is archived as the object's unkeyed content, under "root".
class DRTLMetadataExtension : public DRTLCSExtensionPart {
 public:
  std::optional<DRTLJSON> metadata;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLMetadataExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLUserExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> localId;
  std::optional<std::string> locale;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLUserExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLDeviceExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> localId;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLDeviceExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLOSExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> name;
  std::optional<std::string> ver;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLOSExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLSDKExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> libVer;
  std::optional<std::string> epoch;
  std::int64_t seq = 0;  // written only when not 0
  std::optional<std::string> installId;  // canonical UUID text

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLSDKExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLLocExtension : public DRTLCSExtensionPart {
 public:
  std::optional<std::string> tz;

  std::optional<DRTLJSON> serializeToDictionary() const override;
  bool isEqual(const DRTLCSExtensionPart* other) const override;
  std::string className() const override { return "DRTLLocExtension"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

// The data part: the event's property tree. "baseType" and "baseData" come
// first in its JSON; equality compares the trees whatever their key order.
// Archived as the object's unkeyed content, under "root".
class DRTLCSData : public platform::Archivable {
 public:
  std::optional<DRTLJSON> properties;

  std::optional<DRTLOrderedDictionary> serializeToDictionary() const;
  bool isValid() const { return true; }
  bool isEqual(const DRTLCSData* other) const;
  std::string className() const override { return "DRTLCSData"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLCSExtensions : public platform::Archivable {
 public:
  std::shared_ptr<DRTLMetadataExtension> metadataExt;
  std::shared_ptr<DRTLProtocolExtension> protocolExt;
  std::shared_ptr<DRTLUserExtension> userExt;
  std::shared_ptr<DRTLDeviceExtension> deviceExt;
  std::shared_ptr<DRTLOSExtension> osExt;
  std::shared_ptr<DRTLAppExtension> appExt;
  std::shared_ptr<DRTLNetExtension> netExt;
  std::shared_ptr<DRTLSDKExtension> sdkExt;
  std::shared_ptr<DRTLLocExtension> locExt;

  DRTLJSON serializeToDictionary() const;
  bool isValid() const;
  bool isEqual(const DRTLCSExtensions* other) const;
  std::string className() const override { return "DRTLCSExtensions"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);

 private:
  struct Slot {
    const char* key;
    const char* fieldName;
    std::shared_ptr<DRTLCSExtensionPart> part;
  };
  std::vector<Slot> slots() const;
};

// A property tree as a property-list value and back (JSON null entries are
// left out: property lists have no null).
platform::Value propertyListFromJSON(const DRTLJSON& json);
DRTLJSON jsonFromPropertyList(const platform::Value& value);

}  // namespace telemetry::core
