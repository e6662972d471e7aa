#pragma once
// History entries: a value and the time it became current. The session, user
// id and device histories are arrays of these, archived through
// DRTLArchivedArray. Plain values; their owners lock.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::core {

class DRTLHistoryInfo : public platform::Archivable {
 public:
  DRTLHistoryInfo() = default;
  explicit DRTLHistoryInfo(std::optional<platform::Date> timestamp) : timestamp(timestamp) {}
  std::optional<platform::Date> timestamp;

  std::string className() const override { return "DRTLHistoryInfo"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  virtual void decode(const platform::KeyedArchiveDecoder& decoder);
};

class DRTLSessionHistoryInfo : public DRTLHistoryInfo {
 public:
  DRTLSessionHistoryInfo() = default;
  DRTLSessionHistoryInfo(std::optional<platform::Date> timestamp, std::optional<std::string> sessionId)
      : DRTLHistoryInfo(timestamp), sessionId(std::move(sessionId)) {}
  std::optional<std::string> sessionId;

  std::string className() const override { return "DRTLSessionHistoryInfo"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLUserIdHistoryInfo : public DRTLHistoryInfo {
 public:
  DRTLUserIdHistoryInfo() = default;
  DRTLUserIdHistoryInfo(std::optional<platform::Date> timestamp, std::optional<std::string> userId)
      : DRTLHistoryInfo(timestamp), userId(std::move(userId)) {}
  std::optional<std::string> userId;

  std::string className() const override { return "DRTLUserIdHistoryInfo"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

class DRTLDeviceHistoryInfo : public DRTLHistoryInfo {
 public:
  DRTLDeviceHistoryInfo() = default;
  DRTLDeviceHistoryInfo(std::optional<platform::Date> timestamp, std::shared_ptr<DRTLDevice> device)
      : DRTLHistoryInfo(timestamp), device(std::move(device)) {}
  std::shared_ptr<DRTLDevice> device;

  std::string className() const override { return "DRTLDeviceHistoryInfo"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder) override;
};

// An array archived as the top object: its elements stand under "root".
class DRTLArchivedArray : public platform::Archivable {
 public:
  std::vector<std::shared_ptr<platform::Archivable>> elements;

  std::string className() const override { return "NSArray"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override { encoder.encodeObjects("root", elements); }
};

// Saves a history under `key` of the prefixed settings store.
template <typename T>
void saveHistory(const std::vector<std::shared_ptr<T>>& history, const std::string& key);

// The history stored under `key`, empty (with the ERROR line) when it cannot
// be read or holds other classes.
template <typename T>
std::vector<std::shared_ptr<T>> loadHistory(const std::string& key);

}  // namespace telemetry::core

#include "telemetry/core/DRTLHistoryStore.inl"
