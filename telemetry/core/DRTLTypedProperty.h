#pragma once
// Typed event properties: a name, a type name and one typed value. Equality
// looks at the type and the value only (a long never equals a double), never
// at the name. Plain values used on one thread at a time.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::core {

class DRTLTypedProperty : public platform::Archivable {
 public:
  std::optional<std::string> type;
  std::optional<std::string> name;

  virtual DRTLJSON serializeToDictionary() const;
  virtual bool isEqual(const DRTLTypedProperty* other) const;

  std::string className() const override { return "DRTLTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  virtual void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLStringTypedProperty : public DRTLTypedProperty {
 public:
  DRTLStringTypedProperty() { type = "string"; }
  std::optional<std::string> value;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLTypedProperty* other) const override;
  std::string className() const override { return "DRTLStringTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLBooleanTypedProperty : public DRTLTypedProperty {
 public:
  DRTLBooleanTypedProperty() { type = "boolean"; }
  bool value = false;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLTypedProperty* other) const override;
  std::string className() const override { return "DRTLBooleanTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLDateTimeTypedProperty : public DRTLTypedProperty {
 public:
  DRTLDateTimeTypedProperty() { type = "dateTime"; }
  std::optional<platform::Date> value;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLTypedProperty* other) const override;
  std::string className() const override { return "DRTLDateTimeTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLLongTypedProperty : public DRTLTypedProperty {
 public:
  DRTLLongTypedProperty() { type = "long"; }
  std::int64_t value = 0;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLTypedProperty* other) const override;
  std::string className() const override { return "DRTLLongTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLDoubleTypedProperty : public DRTLTypedProperty {
 public:
  DRTLDoubleTypedProperty() { type = "double"; }
  double value = 0;

  DRTLJSON serializeToDictionary() const override;
  bool isEqual(const DRTLTypedProperty* other) const override;
  std::string className() const override { return "DRTLDoubleTypedProperty"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

}  // namespace telemetry::core
