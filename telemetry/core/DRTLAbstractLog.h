#pragma once
// DRTLAbstractLog: the base record of every telemetry log. Built on the
// caller's thread, then handed to the channel group queue; only the set of
// transmission target tokens is shared between threads, under the log's own
// lock. JSON keys appear in the wire order, and only for set fields.

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/KeyedArchive.h"
#include "telemetry/core/DRTLDevice.h"

namespace telemetry::core {

class DRTLSharedSchemaLog;

// The marker of logs that keep their own session id: the session tracker
// never stamps the current one on them.
class DRTLNoAutoAssignSessionIdLog {
 public:
  virtual ~DRTLNoAutoAssignSessionIdLog() = default;
};

class DRTLAbstractLog : public platform::Archivable {
 public:
  DRTLAbstractLog() = default;
  DRTLAbstractLog(const DRTLAbstractLog&) = delete;
  DRTLAbstractLog& operator=(const DRTLAbstractLog&) = delete;

  std::optional<std::string> type;
  std::optional<platform::Date> timestamp;
  std::optional<std::string> sid;
  std::optional<std::string> distributionGroupId;
  std::optional<std::string> userId;
  std::shared_ptr<DRTLDevice> device;
  // A sender's own reference; compared by identity, never serialised or archived.
  std::shared_ptr<const void> tag;

  virtual DRTLJSON serializeToDictionary() const;
  // Compact or pretty JSON text; "/" is never escaped. None when a string is
  // not valid UTF-8.
  std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
  virtual bool isValid() const;
  virtual bool isEqual(const DRTLAbstractLog* other) const;

  std::optional<std::set<std::string>> transmissionTargetTokens() const;
  void setTransmissionTargetTokens(std::optional<std::set<std::string>> tokens);
  void addTransmissionTargetToken(const std::string& token);

  // One Shared Schema log per target token (each with that one token and its
  // iKey); none, never an empty array, when there is none.
  std::optional<std::vector<std::shared_ptr<DRTLSharedSchemaLog>>> toSharedSchemaLogsWithFlags(std::int64_t flags) const;
  virtual std::shared_ptr<DRTLSharedSchemaLog> toSharedSchemaLogForTargetToken(const std::string& token,
                                                                               std::int64_t flags) const;

  // "Version <version>" then " (Build <build>)" when a build is known; none
  // without a version, even with a build.
  static std::optional<std::string> combineOsVersion(const std::optional<std::string>& version,
                                                     const std::optional<std::string>& build);
  // "<name>-<version>" when both are set.
  static std::optional<std::string> combineSDKLibVer(const std::optional<std::string>& name,
                                                     const std::optional<std::string>& version);
  // "+HH:MM" or "-HH:MM" of an offset in minutes.
  static std::string convertTimeZoneOffsetToISO8601(std::int64_t minutes);

  std::string className() const override { return "DRTLAbstractLog"; }
  void encode(platform::KeyedArchiveEncoder& encoder) const override;
  void decode(const platform::KeyedArchiveDecoder& decoder);

 private:
  mutable std::mutex tokensMutex_;
  std::optional<std::set<std::string>> transmissionTargetTokens_;  // guarded by tokensMutex_
};

// JSON text of a value: compact or pretty; "/" left as it is. None when a
// string in it is not valid UTF-8.
std::optional<std::string> serializeJSON(const DRTLJSON& value, bool prettyPrint);

}  // namespace telemetry::core
